// Splitting a command line into the argument array.
#pragma once

#include "services/text.h"

namespace adsl {

/// Splits a whole command line (program name first) by the dialer's rules: no backslash escapes, a
/// double quote always ends an argument, a byte of 0x80 or above binds the byte after it. The result
/// has one dimension holding the arguments after the program name; an empty quoted one is absent.
TextArray split_command_line(const char* command_line);

/// Releases what `arguments` holds and puts the process's own arguments in its place.
void get_command_line_arguments(TextArray& arguments);

/// The process's command line as the platform gives it; defined by the platform's console file.
/// On Windows the string from GetCommandLineA, split by split_command_line; elsewhere the arguments
/// the shell already split (see the platform file).
TextArray system_command_line_arguments();

/// Hands the C start-up's argument vector to the platform layer before start-up; Windows ignores it
/// (it splits GetCommandLineA itself), elsewhere it is the source of the arguments.
void remember_process_arguments(int argc, char** argv);

}  // namespace adsl
