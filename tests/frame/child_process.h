// Runs a piece of a test in a forked child, so that it can end the process for real, and hands back
// how the child ended and what it wrote.
#pragma once

#include <functional>
#include <string>

namespace adsl::testing {

enum class OutputTo { pipe, file };

struct ChildOutcome {
  bool exited = false;         // ended by exit or _exit (not by a signal)
  int exit_code = -1;          // 0 to 255 when exited
  int signal = 0;              // the signal that ended it, when not exited
  bool body_returned = false;  // the body came back instead of ending the process
  std::string out;             // everything written to descriptor 1
  std::string err;             // everything written to descriptor 2
};

/// Runs `body` in a child whose standard output goes to a pipe or a regular file and whose standard
/// error goes to a pipe; standard input is /dev/null.
ChildOutcome run_in_child(const std::function<void()>& body, OutputTo output = OutputTo::pipe);

/// Writes `text` straight to descriptor `fd`, past every buffer: a marker whose place in the output
/// shows when it was written.
void write_marker(int fd, const std::string& text);

}  // namespace adsl::testing
