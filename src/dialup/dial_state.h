// The process-wide dial-up record and the operations that inspect and end connections.
#pragma once

#include "dialup/ras.h"

namespace adsl {

/// The handle of the last connection this process dialed, and the window showing its progress.
/// Created during start-up with both fields null; the creation registers release_dial_state with atexit.
struct DialState {
  HRASCONN connection_handle = nullptr;
  NativeWindow status_window = nullptr;
};

DialState& dial_state();

/// True when any RAS connection of the machine is in the connected state.
bool is_connected();
/// Hangs up `handle` and waits, up to 3000 ms, until its status query answers ERROR_INVALID_HANDLE.
void hang_up_and_wait(HRASCONN handle);
/// Hangs up and forgets the connection this process dialed last, if any.
void hang_up_stored();
/// Hangs up the stored connection, then every connection RAS lists.
void hang_up_all();
/// The exit-time rule: a stored connection that is not connected is hung up; a connected one stays.
void release_dial_state();

}  // namespace adsl
