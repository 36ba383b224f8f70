// Running the Windows build under Wine's 64-bit loader, in a prefix of the test build's own.
#pragma once

#include <string>
#include <vector>

#include "run_program.h"

namespace adsl::testing {

/// The x86_64 build's directory as Windows sees it (Z: maps the Unix root).
std::string windows_path(const std::string& unix_path);

struct WineOptions {
  /// Extra environment entries ("NAME=value").
  std::vector<std::string> environment;
  /// Appended to WINEDLLOVERRIDES after what every run has ("mscoree,mshtml=", which keeps the first
  /// start from installing Mono and Gecko), e.g. "rasapi32=n".
  std::string dll_overrides;
  /// Where stdout.bin and stderr.txt go; empty: the shared work directory. Runs side by side need
  /// directories of their own.
  std::string directory;
};

/// Runs `exe` under Wine with `arguments` (split again by Wine, so keep them plain), standard input
/// from /dev/null, standard output to a file whose bytes come back in ProgramRun::output. The ANSI code
/// page is 1252 (the C locale): it maps every byte to one character and back, so a command line reaches
/// GetCommandLineA unchanged; under 936 a lead byte before a quote or a space turns into '?'.
ProgramRun run_under_wine(const std::string& exe, const std::vector<std::string>& arguments,
                          const WineOptions& options = {});

/// Creates the prefix, if it is not there yet, by one run of its own: runs side by side must not all
/// try to create it at once.
void prepare_wine_prefix();

/// A fresh scratch directory under the test build for one test's files.
std::string scratch_directory(const std::string& name);

}  // namespace adsl::testing
