// A simulated RAS service with status windows and a millisecond clock, for tests of the dial-up logic.
//
// It stands in for rasapi32 (RasOperations), user32's window calls (StatusWindows) and GetTickCount /
// Sleep(0) (Clock), keeps one record of every call in order, and lets each call's result be scripted.
// It depends on the dial-up and services interface headers and the C++ standard library only, so the
// same code serves the unit tests, a test build of the whole program and a test rasapi32.dll.
//
// The service:
// - A phone book: entry names in listing order.
// - Connections, each with a handle issued by the simulator (1, 2, 3, ... as pointer values), an entry
//   name and a state (RASCS_*). RasHangUpA starts ending a connection: it then answers `vanish_after`
//   more status queries (with its state, or its status error) and is gone at the next one, which
//   answers ERROR_INVALID_HANDLE; `vanish_after` < 0 means it never goes. A connection that is gone is
//   no longer enumerated; until then it is, hung up or not. Unknown handles answer ERROR_INVALID_HANDLE
//   to RasHangUpA and RasGetConnectStatusA.
// - The checks Windows makes: a dwSize other than this build's size of the structure (the first
//   element's, for the enumerations) answers ERROR_INVALID_SIZE (632); an enumeration whose lpcb is
//   below what all elements need answers ERROR_BUFFER_TOO_SMALL (603) with lpcb raised to the need and
//   the count set to the number of elements. More than 38 entries or connections never fit the lists
//   of the dial-up logic.
// - RasDialA: without a scripted outcome it succeeds, adding a connected connection and writing its
//   handle, unless szEntryName names no phone-book entry (ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, nothing
//   written); an empty szEntryName dials szPhoneNumber. Scripted outcomes (DialOutcome) are used one
//   per call, in order. A notifier given to RasDialA is kept; notify() calls it as RAS would later.
// - Scripted results for any RAS call (script_result): the next `times` calls (or all, with -1)
//   answer the code without any effect, optionally claiming a count for an enumeration without filling
//   a single element.
// - Status windows, created and destroyed by the test. resolve() maps StatusWindow::native to itself
//   while the window exists, to null otherwise, as the Windows binding does.
// - A 32-bit tick count that wraps: each tick_count() answers the current value and then advances it
//   by `tick_step` (default 1, so a wait on a handle that never goes always ends); yield() advances it
//   by `yield_step` (default 0). Clock calls are counted, and recorded only when `record_clock` is set.
//
// Scenario files (load_scenario): one statement per line; blank lines and lines starting with '#' are
// ignored; words are separated by spaces or tabs; inside a word \xHH stands for the byte 0xHH (so
// names can hold any byte, spaces included) and \\ for one backslash. Numbers are decimal or 0x hex.
// STATE is a number or one of open-port, port-opened, connect-device, device-connected,
// all-devices-connected, authenticate, auth-notify, authenticated, connected, disconnected.
//
//   entry NAME
//       Adds a phone-book entry (in listing order).
//   connection STATE [entry NAME] [vanish-after N | never] [status-error CODE] [repeat N]
//       Adds an active connection (N of them with repeat). vanish-after defaults to 0.
//   dial result CODE [writes-handle | no-handle] [state STATE] [vanish-after N | never]
//       Queues the outcome of one RasDialA. CODE 0 always writes the handle of a new connection in
//       STATE (default connected); a nonzero CODE writes one (default state disconnected) only with
//       writes-handle.
//   fail CALL CODE [times N | always] [count N]
//       The next N (default 1) calls of CALL (RasEnumEntriesA, RasDialA, RasGetConnectStatusA,
//       RasEnumConnectionsA, RasHangUpA) answer CODE without effect; count N also sets the
//       enumeration's count to N (so "fail RasEnumConnectionsA 0 count 50" claims 50 connections).
//   clock start N [step N] [yield-step N]
//       Sets the tick count and its steps.
//
// Call record (write_record): one line per call, in order: the call's name, then its arguments as
// name=value, then "->" and the result, then what it wrote back as name=value. Text values are bytes
// with every byte outside 0x21..0x7e, and the backslash, written as \xHH (lower-case hex), so an empty
// value is empty and no value holds a space. Handles are decimal pointer values, or null. Examples:
//   RasEnumEntriesA reserved=null phonebook=null dwSize=264 lpcb=10032 entries=0 -> 0 lpcb=10032 entries=1
//   RasDialA extensions=null phonebook=null dwSize=1052 szEntryName=dsl\x20provider szPhoneNumber=
//     szCallbackNumber= szUserName=user szPassword=pass szDomain= dwNotifierType=0 notifier=none
//     hrasconn=null -> 0 hrasconn=1                                         (one line in the file)
//   RasGetConnectStatusA hrasconn=1 dwSize=160 -> 0 rasconnstate=0x2000
//   RasEnumConnectionsA dwSize=412 lpcb=15656 connections=0 -> 0 lpcb=15656 connections=1
//   RasHangUpA hrasconn=1 -> 0
//   resolve window=1 -> 1 | IsWindow hwnd=1 -> 1 | SetWindowTextA hwnd=1 text=... | InvalidateRect hwnd=1
//   GetTickCount -> 4294967000 | Sleep 0                                    (only with record_clock)
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dialup/ras.h"
#include "services/platform.h"

namespace adsl::sim {

enum class Call {
  RasEnumEntriesA,
  RasDialA,
  RasGetConnectStatusA,
  RasEnumConnectionsA,
  RasHangUpA,
  resolve,
  IsWindow,
  SetWindowTextA,
  InvalidateRect,
  GetTickCount,
  Sleep,
};

/// The name of a call as it appears in the record ("RasDialA", "IsWindow", "GetTickCount", ...).
const char* call_name(Call call);

/// One call as the simulator saw it. Fields that a call does not have keep their defaults.
struct CallRecord {
  Call call{};
  /// The RAS result; IsWindow and resolve: 1/0 (resolve: the window resolved, or 0); GetTickCount: the tick.
  std::uint32_t result = 0;

  // Pointer arguments given as null.
  bool reserved_null = false;    // RasEnumEntriesA
  bool phonebook_null = false;   // RasEnumEntriesA, RasDialA
  bool extensions_null = false;  // RasDialA

  /// dwSize of the structure handed over (the first element of a list); 0 when the pointer was null.
  DWORD dw_size = 0;
  // Enumerations: lpcb and the count as given and as written back.
  DWORD lpcb_in = 0;
  DWORD count_in = 0;
  DWORD lpcb_out = 0;
  DWORD count_out = 0;

  /// RasGetConnectStatusA, RasHangUpA: the handle given. RasDialA: the handle it left in *lphRasConn.
  HRASCONN handle = nullptr;
  /// RasDialA: *lphRasConn when it was called.
  HRASCONN handle_in = nullptr;
  /// RasGetConnectStatusA: the state written on success.
  DWORD rasconnstate = 0;

  // RasDialA: the dial parameters' texts, each read up to its terminating zero or its field's end,
  // and the whole structure as it was handed over.
  std::string entry_name, phone_number, callback_number, user_name, password, domain;
  std::vector<unsigned char> params_bytes;
  /// RasDialA: where the dial parameters were. Valid only while the caller keeps them: an on_call
  /// hook may read through it at a later call that the caller makes before it discards them.
  const RASDIALPARAMSA* params_address = nullptr;
  DWORD notifier_type = 0;
  bool notifier = false;

  /// Window calls: the window; SetWindowTextA: the text.
  NativeWindow window = nullptr;
  std::string text;

  /// The record line of this call, without the line end.
  std::string line() const;
};

/// A connection of the simulated service.
struct Connection {
  HRASCONN handle = nullptr;
  std::string entry_name;
  DWORD state = RASCS_Connected;
  /// Nonzero: every status query answers this (while the handle lives).
  DWORD status_error = 0;
  /// Status queries answered after the hang-up before the handle goes; negative: it never goes.
  int vanish_after = 0;
  bool hung_up = false;
  int queries_since_hang_up = 0;
};

/// The outcome of one RasDialA.
struct DialOutcome {
  DWORD result = ERROR_SUCCESS;
  /// For a nonzero result: whether a handle is written all the same. Success always writes one.
  bool writes_handle = false;
  /// The state of the new connection; unset: connected on success, disconnected on failure.
  std::optional<DWORD> state = std::nullopt;
  int vanish_after = 0;
};

class RasSimulator final : public RasOperations, public StatusWindows, public Clock {
 public:
  RasSimulator() = default;
  RasSimulator(const RasSimulator&) = delete;
  RasSimulator& operator=(const RasSimulator&) = delete;

  /// Back to a new simulator's state: no entries, connections, scripts, windows or record; handles
  /// are issued from 1 again; the clock, its steps and on_call are reset.
  void reset();

  // --- The service's state ---
  void add_entry(std::string name) { phone_book_.push_back(std::move(name)); }
  const std::vector<std::string>& phone_book() const { return phone_book_; }
  /// Adds an active connection and returns its handle.
  HRASCONN add_connection(DWORD state, int vanish_after = 0, std::string entry_name = {});
  /// The connection with this handle while it exists (hung up or not), else null.
  Connection* find(HRASCONN handle);
  bool exists(HRASCONN handle) { return find(handle) != nullptr; }
  const std::vector<Connection>& connections() const { return connections_; }

  // --- Scripts ---
  void script_dial(DialOutcome outcome) { dial_outcomes_.push_back(outcome); }
  /// The next `times` calls of `call` (-1: every call) answer `result` with no effect; `count`, for an
  /// enumeration, is written as its count (nothing is filled).
  void script_result(Call call, DWORD result, int times = 1, std::optional<DWORD> count = std::nullopt);
  /// Calls the notifier the last RasDialA was given, with WM_RASDIALEVENT; false when there is none.
  bool notify(DWORD rasconnstate, DWORD error);

  // --- Status windows ---
  NativeWindow create_window();
  void destroy_window(NativeWindow window);
  bool window_exists(NativeWindow window) const;
  /// The text last set on the window ("" when none).
  std::string window_text(NativeWindow window) const;

  // --- Clock ---
  std::uint32_t tick = 0;
  std::uint32_t tick_step = 1;
  std::uint32_t yield_step = 0;
  bool record_clock = false;
  std::size_t tick_count_calls = 0;
  std::size_t yield_calls = 0;

  // --- Record ---
  const std::vector<CallRecord>& calls() const { return calls_; }
  std::vector<CallRecord> calls_of(Call call) const;
  void clear_record() { calls_.clear(); }
  /// Runs at the start of every recorded call, before the call has any effect, with the calls so far
  /// (the current one not yet among them).
  std::function<void(Call call)> on_call;
  /// The record, one line per call, each ended by "\n".
  std::string record_text() const;
  /// Writes record_text() to the file; false when it cannot be written.
  bool write_record(const std::string& path) const;

  // --- Scenarios ---
  /// Adds what the scenario text states; false with error() set (naming the line) when a line is not
  /// understood. Lines before the faulty one have taken effect.
  bool load_scenario_text(const std::string& text);
  /// load_scenario_text on the file's contents; false when it cannot be read or is not understood.
  bool load_scenario(const std::string& path);
  const std::string& error() const { return error_; }

  // --- RasOperations ---
  DWORD RasEnumEntriesA(const char* reserved, const char* lpszPhonebook, RASENTRYNAMEA* lprasentryname,
                        DWORD* lpcb, DWORD* lpcEntries) override;
  DWORD RasDialA(const void* lpRasDialExtensions, const char* lpszPhonebook, RASDIALPARAMSA* lpRasDialParams,
                 DWORD dwNotifierType, RasDialNotifier lpvNotifier, HRASCONN* lphRasConn) override;
  DWORD RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus) override;
  DWORD RasEnumConnectionsA(RASCONNA* lprasconn, DWORD* lpcb, DWORD* lpcConnections) override;
  DWORD RasHangUpA(HRASCONN hrasconn) override;

  // --- StatusWindows ---
  NativeWindow resolve(const StatusWindow& window) override;
  bool IsWindow(NativeWindow window) override;
  void SetWindowTextA(NativeWindow window, const char* text) override;
  void InvalidateRect(NativeWindow window) override;

  // --- Clock ---
  std::uint32_t tick_count() override;
  void yield() override;

 private:
  struct Scripted {
    DWORD result;
    int times;
    std::optional<DWORD> count;
  };
  struct Window {
    NativeWindow handle;
    bool exists;
    std::string text;
  };

  CallRecord& begin(Call call);
  std::optional<Scripted> take_script(Call call);
  HRASCONN issue_handle();
  std::vector<const Connection*> listed_connections() const;

  std::vector<std::string> phone_book_;
  std::vector<Connection> connections_;
  std::deque<DialOutcome> dial_outcomes_;
  std::vector<std::pair<Call, Scripted>> scripts_;
  std::vector<Window> windows_;
  std::vector<CallRecord> calls_;
  RasDialNotifier notifier_ = nullptr;
  std::uintptr_t next_handle_ = 1;
  std::uintptr_t next_window_ = 1;
  std::string error_;
};

/// `bytes` with every byte outside 0x21..0x7e, and the backslash, written as \xHH.
std::string escape_bytes(const std::string& bytes);

}  // namespace adsl::sim
