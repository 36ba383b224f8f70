// The process-wide dial-up record, the connected-state check and the hang-ups.
#include "dialup/dial_state.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "services/platform.h"

namespace adsl {

namespace {

constexpr std::uint32_t kHangUpWaitMilliseconds = 3000;

// "连接被挂断"
constexpr char kHungUpNotice[] = "\xc1\xac\xbd\xd3\xb1\xbb\xb9\xd2\xb6\xcf";

// Constant-initialised, so it holds its null fields before any static initialiser of the program runs
// and no initialiser can find it half made.
constinit DialState the_dial_state{};

// The exit-time rule is registered when the program's static objects are created, before main, so it
// runs on every end that goes through the normal exit processing and on no other.
// The result of atexit is ignored: at least 32 registrations always succeed, and the program makes few.
struct ExitRuleRegistration {
  ExitRuleRegistration() { std::atexit(release_dial_state); }  // NOLINT(cert-err33-c)
};
const ExitRuleRegistration exit_rule_registration;

constexpr DWORD kConnectionListCapacity = 38;
using ConnectionList = RASCONNA[kConnectionListCapacity];

void prepare_status(RASCONNSTATUSA& status) {
  std::memset(&status, 0, sizeof status);
  status.dwSize = sizeof(RASCONNSTATUSA);
}

bool reports_connected(RasOperations& ras, HRASCONN handle, RASCONNSTATUSA& status) {
  return ras.RasGetConnectStatusA(handle, &status) == ERROR_SUCCESS && status.rasconnstate == RASCS_Connected;
}

/// The number of elements of `list` filled by RasEnumConnectionsA; 0 when the enumeration fails.
DWORD enumerate_connections(RasOperations& ras, ConnectionList& list) {
  std::memset(&list, 0, sizeof list);
  list[0].dwSize = sizeof(RASCONNA);
  DWORD bytes = sizeof list;
  DWORD count = 0;
  if (ras.RasEnumConnectionsA(list, &bytes, &count) != ERROR_SUCCESS) {
    return 0;
  }
  // A service that claims more elements than the list holds must not make us read past its end.
  return count < kConnectionListCapacity ? count : kConnectionListCapacity;
}

}  // namespace

DialState& dial_state() {
  return the_dial_state;
}

bool is_connected() {
  RasOperations& ras = *dialup_platform().ras;
  // One status structure serves every query of the call.
  RASCONNSTATUSA status;
  prepare_status(status);
  HRASCONN stored = dial_state().connection_handle;
  if (stored != nullptr && reports_connected(ras, stored, status)) {
    return true;
  }
  ConnectionList list;
  const DWORD count = enumerate_connections(ras, list);
  for (DWORD i = 0; i < count; ++i) {
    if (reports_connected(ras, list[i].hrasconn, status)) {
      return true;
    }
  }
  return false;
}

void hang_up_and_wait(HRASCONN handle) {
  RasOperations& ras = *dialup_platform().ras;
  Clock& clock = *platform().clock;
  // Whether the hang-up was accepted does not matter: only the handle's disappearance ends the wait.
  ras.RasHangUpA(handle);
  RASCONNSTATUSA status;
  prepare_status(status);
  const std::uint32_t start = clock.tick_count();
  // The unsigned difference stays right when the millisecond counter wraps during the wait, and the
  // time is tested before every query so a handle that never goes away holds us for 3000 ms at most.
  while (static_cast<std::uint32_t>(clock.tick_count() - start) < kHangUpWaitMilliseconds) {
    if (ras.RasGetConnectStatusA(handle, &status) == ERROR_INVALID_HANDLE) {
      return;
    }
    clock.yield();
  }
}

void hang_up_stored() {
  DialState& state = dial_state();
  HRASCONN handle = state.connection_handle;
  if (handle == nullptr) {
    return;
  }
  // Forgotten before the wait, so nothing that runs meanwhile sees a handle being torn down.
  state.connection_handle = nullptr;
  state.status_window = nullptr;
  hang_up_and_wait(handle);
}

void hang_up_all() {
  const DialState& state = dial_state();
  if (state.connection_handle != nullptr) {
    NativeWindow window = state.status_window;
    hang_up_stored();
    StatusWindows& windows = *dialup_platform().windows;
    if (window != nullptr && windows.IsWindow(window)) {
      windows.SetWindowTextA(window, kHungUpNotice);
      windows.InvalidateRect(window);
    }
  }
  RasOperations& ras = *dialup_platform().ras;
  ConnectionList list;
  const DWORD count = enumerate_connections(ras, list);
  for (DWORD i = 0; i < count; ++i) {
    hang_up_and_wait(list[i].hrasconn);
  }
}

void release_dial_state() {
  DialState& state = dial_state();
  if (state.connection_handle == nullptr) {
    return;
  }
  state.status_window = nullptr;
  RASCONNSTATUSA status;
  prepare_status(status);
  // A connected connection outlives the process; one still dialing or broken off is not left behind.
  if (!reports_connected(*dialup_platform().ras, state.connection_handle, status)) {
    hang_up_and_wait(state.connection_handle);
  }
  state.connection_handle = nullptr;
}

}  // namespace adsl
