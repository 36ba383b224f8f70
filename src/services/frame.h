// The process frame: start-up, the three ways of ending, pausing with message processing, and the
// program's own location.
#pragma once

#include <cstdint>

#include "services/text.h"

namespace adsl {

/// The dialer's start routine, called once by program_entry.
int dialer_main();

/// Start-up in its fixed order (error mode, heap, module path split, current directory), then
/// dialer_main once, then the return path: every exit-time clean-up (newest first, those of static
/// initialisers included), then the standard streams flushed, then console input closed, exit code 0.
[[noreturn]] void program_entry();

/// Busy pause that keeps the main thread's messages flowing; returns after strictly more than
/// `milliseconds` by the tick counter. 0 or negative returns at once without touching the queue.
void pause_with_events(std::int32_t milliseconds);

/// A new copy of the directory that holds the program (no trailing separator), absent when empty.
Text get_run_directory();
/// A new copy of the program's file name, extension included, absent when empty.
Text get_executable_name();

/// Ends the process with `exit_code` after flushing the standard streams; runs no exit-time clean-up.
[[noreturn]] void terminate_program(std::int32_t exit_code);

/// program_entry with another start routine in place of dialer_main: start_process_frame, the routine
/// once, then the return path. Exposed so tests can prove start-up and the return path.
[[noreturn]] void run_process_frame(int (*start_routine)());

/// Start-up before the start routine, in order: error boxes off, the module path read whole however
/// long, split and stored, the run directory made the current directory. Exposed for tests; a
/// second call replaces what the first stored.
void start_process_frame();

/// Splits a module path at its last separator, walking by character so a trail byte equal to the
/// separator is not taken for one. Exposed for tests; start-up stores the result.
void split_module_path(const char* path, Text& run_directory, Text& executable_name);

}  // namespace adsl
