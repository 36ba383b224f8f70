// The connected-state check, the hang-ups with their wait, and the exit-time rule, against the
// simulated RAS service.
#include "dialup/dial_state.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "dialup_fixture.h"

namespace adsl::dialup_test {
namespace {

using Lines = std::vector<std::string>;
using sim::Call;

constexpr DWORD kListBytes = 38 * sizeof(RASCONNA);
// "连接被挂断"
const std::string kHungUpNotice = "\xc1\xac\xbd\xd3\xb1\xbb\xb9\xd2\xb6\xcf";

HRASCONN handle_of(std::uintptr_t value) {
  return reinterpret_cast<HRASCONN>(value);
}

/// Every call carries the structure sizes and list inputs the contracts name.
void expect_contract_inputs(const sim::RasSimulator& sim) {
  for (const sim::CallRecord& record : sim.calls()) {
    SCOPED_TRACE(record.line());
    if (record.call == Call::RasEnumConnectionsA) {
      EXPECT_EQ(record.dw_size, sizeof(RASCONNA));
      EXPECT_EQ(record.lpcb_in, kListBytes);
      EXPECT_EQ(record.count_in, 0u);
    } else if (record.call == Call::RasGetConnectStatusA) {
      EXPECT_EQ(record.dw_size, 160u);
    }
  }
}

class IsConnected : public DialupTest {};

TEST_F(IsConnected, AsksTheStoredConnectionFirstThenEveryListedOne) {
  struct Row {
    const char* name;
    std::function<void(sim::RasSimulator&)> setup;  // handles are issued 1, 2, 3, ...
    std::uintptr_t stored;
    bool expected;
    Lines calls;
  };
  const Row rows[] = {
      {"nothing stored, nothing listed", [](sim::RasSimulator&) {}, 0, false, {"RasEnumConnectionsA"}},
      {"stored connection connected: no enumeration",
       [](sim::RasSimulator& s) { s.add_connection(RASCS_Connected); },
       1,
       true,
       {"RasGetConnectStatusA 1"}},
      {"stored query fails, another listed connection is connected",
       [](sim::RasSimulator& s) {
         s.find(s.add_connection(RASCS_Connected))->status_error = 87;
         s.add_connection(RASCS_Connected);
       },
       1,
       true,
       {"RasGetConnectStatusA 1", "RasEnumConnectionsA", "RasGetConnectStatusA 1", "RasGetConnectStatusA 2"}},
      {"stored handle gone, nothing listed",
       [](sim::RasSimulator&) {},
       99,
       false,
       {"RasGetConnectStatusA 99", "RasEnumConnectionsA"}},
      {"stored connection authenticating is asked again from the list",
       [](sim::RasSimulator& s) { s.add_connection(RASCS_Authenticate); },
       1,
       false,
       {"RasGetConnectStatusA 1", "RasEnumConnectionsA", "RasGetConnectStatusA 1"}},
      {"listed connections still dialing or disconnected do not count",
       [](sim::RasSimulator& s) {
         s.add_connection(RASCS_Authenticate);
         s.add_connection(RASCS_OpenPort);
         s.add_connection(RASCS_Disconnected);
       },
       0,
       false,
       {"RasEnumConnectionsA", "RasGetConnectStatusA 1", "RasGetConnectStatusA 2", "RasGetConnectStatusA 3"}},
      {"the first connected one in list order ends the search",
       [](sim::RasSimulator& s) {
         s.add_connection(RASCS_Authenticated);
         s.add_connection(RASCS_Connected);
         s.add_connection(RASCS_Connected);
       },
       0,
       true,
       {"RasEnumConnectionsA", "RasGetConnectStatusA 1", "RasGetConnectStatusA 2"}},
      {"39 connected connections do not fit the list",
       [](sim::RasSimulator& s) {
         for (int i = 0; i < 39; ++i) s.add_connection(RASCS_Connected);
       },
       0,
       false,
       {"RasEnumConnectionsA"}},
      {"39 connections and the stored one connected",
       [](sim::RasSimulator& s) {
         for (int i = 0; i < 39; ++i) s.add_connection(RASCS_Connected);
       },
       1,
       true,
       {"RasGetConnectStatusA 1"}},
      {"enumeration fails",
       [](sim::RasSimulator& s) {
         s.add_connection(RASCS_Connected);
         s.script_result(Call::RasEnumConnectionsA, 5);
       },
       0,
       false,
       {"RasEnumConnectionsA"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    dial_state() = DialState{};
    row.setup(sim);
    dial_state().connection_handle = handle_of(row.stored);

    EXPECT_EQ(is_connected(), row.expected);
    EXPECT_EQ(summary(), row.calls);
    expect_contract_inputs(sim);
    EXPECT_EQ(dial_state().connection_handle, handle_of(row.stored)) << "is_connected changes nothing";
  }
}

TEST_F(IsConnected, NeverReadsPastTheListWhenTheServiceOverstatesItsCount) {
  // The service answers success and claims 50 elements without filling any: at most the 38 elements
  // of the list are looked at (all zero, so their handles are null).
  sim.script_result(Call::RasEnumConnectionsA, 0, 1, 50);
  EXPECT_FALSE(is_connected());
  ASSERT_EQ(sim.calls_of(Call::RasGetConnectStatusA).size(), 38u);
  for (const sim::CallRecord& record : sim.calls_of(Call::RasGetConnectStatusA)) {
    EXPECT_EQ(record.handle, nullptr);
  }
}

class HangUpAndWait : public DialupTest {};

TEST_F(HangUpAndWait, TestsTheTimeBeforeEachQueryAndYieldsBetweenQueries) {
  struct Row {
    const char* name;
    int vanish_after;  // status queries the connection answers before its handle goes
    bool known;        // false: the handle is already invalid
  };
  const Row rows[] = {
      {"already invalid handle: hang-up fails, first query ends the wait", 0, false},
      {"handle gone at the first query", 0, true},
      {"handle gone at the fourth query", 3, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    sim.record_clock = true;
    sim.tick = 1000;
    HRASCONN handle = row.known ? sim.add_connection(RASCS_Connected, row.vanish_after) : handle_of(77);
    const std::string h = id(handle);

    hang_up_and_wait(handle);

    Lines expected = {"RasHangUpA " + h, "GetTickCount"};
    for (int query = 0; query <= row.vanish_after; ++query) {
      if (query > 0) {
        expected.push_back("Sleep");
      }
      expected.push_back("GetTickCount");
      expected.push_back("RasGetConnectStatusA " + h);
    }
    EXPECT_EQ(summary(), expected);
    EXPECT_EQ(sim.calls_of(Call::RasHangUpA).at(0).result, row.known ? 0u : ERROR_INVALID_HANDLE);
    EXPECT_FALSE(sim.exists(handle));
    expect_contract_inputs(sim);
  }
}

TEST_F(HangUpAndWait, GivesUpAfter3000MillisecondsAlsoAcrossTheCounterWrap) {
  struct Row {
    const char* name;
    std::uint32_t start;
    std::uint32_t tick_step;   // added by every GetTickCount
    std::uint32_t yield_step;  // added by every Sleep(0)
    DWORD status_error;        // what the never-ending connection answers; 0: its state
    std::size_t queries;       // the queries that fit before 3000 ms have passed
  };
  const Row rows[] = {
      {"1 ms per tick", 0, 1, 0, 0, 2999},
      {"7 ms per tick", 0, 7, 0, 0, 428},
      {"7 ms per tick, counter wraps 1000 ms in", 0xFFFFFFFFu - 1000, 7, 0, 0, 428},
      {"counter wraps right after the start", 0xFFFFFFFFu, 1, 0, 0, 2999},
      {"crossing the signed boundary", 0x7FFFFFFFu - 5, 3, 0, 0, 999},
      {"time passes only while yielding, across the wrap", 0xFFFFFF00u, 0, 5, 0, 600},
      {"3000 ms pass before the first query", 0xFFFFF000u, 3000, 0, 0, 0},
      {"a failing status query keeps the wait going", 0, 10, 0, 87, 299},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    sim.tick = row.start;
    sim.tick_step = row.tick_step;
    sim.yield_step = row.yield_step;
    HRASCONN handle = sim.add_connection(RASCS_Connected, -1);
    sim.find(handle)->status_error = row.status_error;

    hang_up_and_wait(handle);

    EXPECT_EQ(sim.calls_of(Call::RasGetConnectStatusA).size(), row.queries);
    EXPECT_EQ(sim.yield_calls, row.queries);
    // The last tick taken is the first at least 3000 ms after the start.
    const std::uint32_t elapsed = sim.tick - row.tick_step - row.start;
    EXPECT_GE(elapsed, 3000u);
    EXPECT_LT(elapsed, 3000u + (row.tick_step > row.yield_step ? row.tick_step : row.yield_step));
    EXPECT_TRUE(sim.exists(handle));
  }
}

class HangUpStored : public DialupTest {};

TEST_F(HangUpStored, ForgetsTheConnectionBeforeHangingItUp) {
  NativeWindow window = sim.create_window();
  HRASCONN handle = sim.add_connection(RASCS_Connected);
  dial_state() = DialState{handle, window};
  bool forgotten_at_hang_up = false;
  sim.on_call = [&](Call call) {
    if (call == Call::RasHangUpA) {
      forgotten_at_hang_up =
          dial_state().connection_handle == nullptr && dial_state().status_window == nullptr;
    }
  };

  hang_up_stored();

  EXPECT_TRUE(forgotten_at_hang_up);
  EXPECT_EQ(summary(), (Lines{"RasHangUpA 1", "RasGetConnectStatusA 1"}));
  EXPECT_FALSE(sim.exists(handle));

  sim.clear_record();
  hang_up_stored();
  EXPECT_TRUE(sim.calls().empty()) << "nothing stored: nothing to do";
}

class HangUpAll : public DialupTest {};

TEST_F(HangUpAll, HangsUpTheStoredConnectionThenEveryListedOne) {
  enum class WindowCase { none, live, destroyed };
  struct Row {
    const char* name;
    bool stored;  // connection 1 is the stored one; the listed ones follow it
    WindowCase window;
    int vanish_after_of_stored;
    int listed;  // connections besides the stored one
    DWORD enumeration_failure;
    Lines hang_ups;
    Lines window_calls;
  };
  const Row rows[] = {
      {"nothing stored, nothing listed", false, WindowCase::none, 0, 0, 0, {}, {}},
      {"nothing stored: only the listed ones, no window touched",
       false,
       WindowCase::live,
       0,
       2,
       0,
       {"RasHangUpA 1", "RasHangUpA 2"},
       {}},
      {"stored with a live window",
       true,
       WindowCase::live,
       0,
       2,
       0,
       {"RasHangUpA 1", "RasHangUpA 2", "RasHangUpA 3"},
       {"IsWindow 1", "SetWindowTextA 1", "InvalidateRect 1"}},
      {"stored with a destroyed window: no text set, both steps run",
       true,
       WindowCase::destroyed,
       0,
       1,
       0,
       {"RasHangUpA 1", "RasHangUpA 2"},
       {"IsWindow 1"}},
      {"stored without a window", true, WindowCase::none, 0, 1, 0, {"RasHangUpA 1", "RasHangUpA 2"}, {}},
      {"stored one not gone within its wait is hung up again from the list",
       true,
       WindowCase::none,
       -1,
       1,
       0,
       {"RasHangUpA 1", "RasHangUpA 1", "RasHangUpA 2"},
       {}},
      {"more than 38 listed: only the stored one", true, WindowCase::none, 0, 39, 0, {"RasHangUpA 1"}, {}},
      {"enumeration fails: only the stored one", true, WindowCase::none, 0, 2, 5, {"RasHangUpA 1"}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    dial_state() = DialState{};
    NativeWindow window = nullptr;
    if (row.window != WindowCase::none) {
      window = sim.create_window();
      if (row.window == WindowCase::destroyed) {
        sim.destroy_window(window);
      }
    }
    if (row.stored) {
      dial_state() = DialState{sim.add_connection(RASCS_Connected, row.vanish_after_of_stored), window};
    }
    for (int i = 0; i < row.listed; ++i) {
      sim.add_connection(RASCS_Connected);
    }
    if (row.enumeration_failure != 0) {
      sim.script_result(Call::RasEnumConnectionsA, row.enumeration_failure);
    }

    hang_up_all();

    Lines hang_ups;
    Lines window_calls;
    for (const std::string& line : summary()) {
      if (line.rfind("RasHangUpA", 0) == 0) {
        hang_ups.push_back(line);
      } else if (line.rfind("RasGetConnectStatusA", 0) != 0 && line != "RasEnumConnectionsA") {
        window_calls.push_back(line);
      }
    }
    EXPECT_EQ(hang_ups, row.hang_ups);
    EXPECT_EQ(window_calls, row.window_calls);
    EXPECT_EQ(sim.window_text(window), row.window == WindowCase::live && row.stored ? kHungUpNotice : "");
    EXPECT_EQ(sim.calls_of(Call::RasEnumConnectionsA).size(), 1u);
    EXPECT_EQ(dial_state().connection_handle, nullptr);
    EXPECT_EQ(dial_state().status_window, nullptr);
    expect_contract_inputs(sim);
  }
}

TEST_F(HangUpAll, ShowsTheNoticeOnlyAfterTheStoredHangUpAndBeforeTheList) {
  NativeWindow window = sim.create_window();
  HRASCONN stored = sim.add_connection(RASCS_Connected, 1);
  sim.add_connection(RASCS_Authenticate);
  dial_state() = DialState{stored, window};

  hang_up_all();

  EXPECT_EQ(summary(), (Lines{"RasHangUpA 1", "RasGetConnectStatusA 1", "RasGetConnectStatusA 1",
                              "IsWindow 1", "SetWindowTextA 1", "InvalidateRect 1", "RasEnumConnectionsA",
                              "RasHangUpA 2", "RasGetConnectStatusA 2"}));
  EXPECT_EQ(sim.calls_of(Call::SetWindowTextA).at(0).text, kHungUpNotice);
}

class ReleaseDialState : public DialupTest {};

TEST_F(ReleaseDialState, LeavesAConnectedConnectionUpAndHangsUpAnyOther) {
  struct Row {
    const char* name;
    std::function<HRASCONN(sim::RasSimulator&)> stored;
    Lines calls;
  };
  const Row rows[] = {
      {"nothing stored", [](sim::RasSimulator&) { return HRASCONN{}; }, {}},
      {"connected: stays up",
       [](sim::RasSimulator& s) { return s.add_connection(RASCS_Connected); },
       {"RasGetConnectStatusA 1"}},
      {"still authenticating: hung up",
       [](sim::RasSimulator& s) { return s.add_connection(RASCS_Authenticate); },
       {"RasGetConnectStatusA 1", "RasHangUpA 1", "RasGetConnectStatusA 1"}},
      {"status query fails: hung up",
       [](sim::RasSimulator& s) {
         HRASCONN handle = s.add_connection(RASCS_Connected);
         s.script_result(Call::RasGetConnectStatusA, 87);
         return handle;
       },
       {"RasGetConnectStatusA 1", "RasHangUpA 1", "RasGetConnectStatusA 1"}},
      {"handle already gone: hung up anyway",
       [](sim::RasSimulator&) { return handle_of(42); },
       {"RasGetConnectStatusA 42", "RasHangUpA 42", "RasGetConnectStatusA 42"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    NativeWindow window = sim.create_window();
    HRASCONN handle = row.stored(sim);
    dial_state() = DialState{handle, handle != nullptr ? window : nullptr};

    release_dial_state();

    EXPECT_EQ(summary(), row.calls);
    EXPECT_EQ(dial_state().connection_handle, nullptr);
    EXPECT_EQ(dial_state().status_window, nullptr);
    expect_contract_inputs(sim);
  }
}

// The rule is registered with the normal exit processing when the program starts: a process that ends
// through exit() applies it to the connection it stored.
class ReleaseDialStateDeathTest : public DialupTest {};

TEST_F(ReleaseDialStateDeathTest, RunsWhenTheProcessExitsNormally) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto exit_with_stored = [this](DWORD state) {
    dial_state().connection_handle = sim.add_connection(state);
    sim.on_call = [](Call call) {
      if (call == Call::RasGetConnectStatusA) {
        std::fputs("status queried at exit\n", stderr);
      }
      if (call == Call::RasHangUpA) {
        std::fputs("hung up at exit\n", stderr);
        std::_Exit(3);
      }
    };
    std::exit(0);
  };
  EXPECT_EXIT(exit_with_stored(RASCS_Authenticate), ::testing::ExitedWithCode(3), "hung up at exit");
  EXPECT_EXIT(exit_with_stored(RASCS_Connected), ::testing::ExitedWithCode(0), "status queried at exit");
}

}  // namespace
}  // namespace adsl::dialup_test
