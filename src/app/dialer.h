// The dialer's own logic: the start routine with its usage dialogue, and the dial sequence.
#pragma once

#include "services/text.h"

namespace adsl {

/// The dial way: echo, hang-up of a live connection, dial of the first phone-book entry, result,
/// closing notice, three-second pause; ends the process with exit code 0.
[[noreturn]] void run_dial_sequence(const TextArray& arguments);

}  // namespace adsl
