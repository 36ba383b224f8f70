// Running the Windows build under Wine's 64-bit loader, in a prefix of the test build's own.
#pragma once

#include <string>
#include <vector>

#include "run_program.h"

namespace adsl::testing {

/// The x86_64 build's directory as Windows sees it (Z: maps the Unix root).
std::string windows_path(const std::string& unix_path);

/// Runs `exe` under Wine with `arguments` (split again by Wine, so keep them plain), standard input
/// from /dev/null, standard output to a file whose bytes come back in ProgramRun::output.
ProgramRun run_under_wine(const std::string& exe, const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {});

/// A fresh scratch directory under the test build for one test's files.
std::string scratch_directory(const std::string& name);

}  // namespace adsl::testing
