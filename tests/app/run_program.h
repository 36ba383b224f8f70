// Runs a program as a child process with exact arguments and standard input, and collects what it
// writes and how it ends.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace adsl::testing {

struct ProgramRun {
  std::string output;  // standard output, exact bytes
  std::string error;   // standard error, exact bytes
  int exit_code = -1;  // -1 when it did not exit normally
  std::chrono::milliseconds duration{0};
};

struct ProgramInput {
  /// Bytes on standard input; nullopt gives /dev/null.
  std::optional<std::string> bytes;
  /// Extra environment entries ("NAME=value"), added to the test's own environment in place of any
  /// entry of the same name.
  std::vector<std::string> environment;
  /// Directory to start in; empty keeps the test's own.
  std::string directory;
  /// When set, standard output and error go to these files instead of pipes, and are read back after
  /// the program has ended. Needed for programs that leave helpers behind holding their pipes
  /// (Wine's wineserver lingers for seconds).
  std::string output_file;
  std::string error_file;
};

/// Runs `program` with `arguments` (argv[1] on), standard output and error to pipes.
ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const ProgramInput& input = {});

/// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path);

/// The bytes of a UTF-8 text in code page 936, as the program writes them.
std::string gbk(const std::string& utf8);

/// Bytes shown with non-printable ones escaped, for readable failure messages.
std::string visible(const std::string& bytes);

}  // namespace adsl::testing
