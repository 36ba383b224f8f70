// Dialing a phone-book entry or a phone number.
#pragma once

#include <optional>

#include "dialup/ras.h"

namespace adsl {

/// Dials through RasDialA after hanging up the connection this process dialed last. A selector
/// starting with "@" picks a phone-book entry by index ("@n" and "@" pick the first); any other is a
/// phone number. `wait` true dials synchronously (true = connected); absent or false dials in the
/// notified mode (true = started), progress shown in `status_window`.
bool dial_entry(const char* selector, const char* user_name, const char* password,
                std::optional<bool> wait = std::nullopt,
                std::optional<StatusWindow> status_window = std::nullopt);

/// The RasDialFunc of the notified mode: shows the state in the stored status window.
void dial_status_callback(std::uint32_t message, DWORD rasconnstate, DWORD dwError);

/// The index a selector's text after the "@" reads as: white space, an optional sign, decimal digits
/// accumulated with 32-bit wrap-around.
std::int32_t selector_index(const char* text);

}  // namespace adsl
