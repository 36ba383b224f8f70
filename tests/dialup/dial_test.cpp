// dial_entry, its selector rule and the notified mode's status texts, against the simulated RAS service.
#include "dialup/dial.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dialup/dial_state.h"
#include "dialup_fixture.h"

namespace adsl::dialup_test {
namespace {

using Lines = std::vector<std::string>;
using sim::Call;

const std::string kFirst = "DSL provider";
const std::string kSecond = "second \xb5\xda\xb6\xfe";  // "second 第二"
const std::string kThird = "third";

class DialEntry : public DialupTest {
 protected:
  void use_phone_book(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      sim.add_entry(name);
    }
  }
  /// A connection stored by an earlier dial: handle 1.
  HRASCONN store_earlier_dial() {
    HRASCONN handle = sim.add_connection(RASCS_Connected);
    dial_state().connection_handle = handle;
    return handle;
  }
  const sim::CallRecord* dial_call() const {
    for (const sim::CallRecord& record : sim.calls()) {
      if (record.call == Call::RasDialA) {
        return &record;
      }
    }
    return nullptr;
  }
};

/// The listing is asked for with the sizes and inputs the contract names.
void expect_listing_inputs(const sim::RasSimulator& sim) {
  for (const sim::CallRecord& record : sim.calls_of(Call::RasEnumEntriesA)) {
    EXPECT_TRUE(record.reserved_null);
    EXPECT_TRUE(record.phonebook_null);
    EXPECT_EQ(record.dw_size, 264u);
    EXPECT_EQ(record.lpcb_in, 10032u);
    EXPECT_EQ(record.count_in, 0u);
  }
}

TEST(SelectorIndex, ReadsSignedDecimalWithThirtyTwoBitWrap) {
  struct Row {
    const char* text;
    std::int32_t index;
  };
  const Row rows[] = {
      {"", 0},
      {"n", 0},
      {"0", 0},
      {"2", 2},
      {" 1", 1},
      {"1a", 1},
      {"\t\n\v\f\r 1", 1},
      {"+7x", 7},
      {"-1", -1},
      {"--1", 0},
      {"- 1", 0},
      {"1 2", 1},
      {"\xa0"
       "1",
       0},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"4294967295", -1},
      {"4294967296", 0},
      {"4294967297", 1},
      {"-4294967295", 1},
      {"99999999999", 1215752191},
      {"-99999999999", -1215752191},
      {"000000000000000000003", 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("text after @: \"") + row.text + "\"");
    EXPECT_EQ(selector_index(row.text), row.index);
  }
  EXPECT_EQ(selector_index(nullptr), 0);
}

TEST_F(DialEntry, SelectorStartingWithAtDialsThePhoneBookEntryAtThatIndex) {
  struct Row {
    std::string selector;
    const std::string* entry;  // null: refused, nothing dialed
  };
  const Row rows[] = {
      {"@n", &kFirst},           {"@", &kFirst},
      {"@0", &kFirst},           {"@2", &kThird},
      {"@ 1", &kSecond},         {"@1a", &kSecond},
      {"@4294967297", &kSecond}, {"@" + std::string(299, ' ') + "1", &kSecond},
      {"@3", nullptr},           {"@-1", nullptr},
      {"@2147483648", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("selector \"" + row.selector + "\"");
    sim.reset();
    dial_state() = DialState{};
    use_phone_book({kFirst, kSecond, kThird});

    const bool dialed = dial_entry(row.selector.c_str(), "user", "secret", true);

    EXPECT_EQ(dialed, row.entry != nullptr);
    EXPECT_EQ(sim.calls_of(Call::RasEnumEntriesA).size(), 1u) << "listed afresh for every dial by index";
    expect_listing_inputs(sim);
    const sim::CallRecord* dial = dial_call();
    if (row.entry == nullptr) {
      EXPECT_EQ(dial, nullptr);
      EXPECT_EQ(dial_state().connection_handle, nullptr);
      continue;
    }
    ASSERT_NE(dial, nullptr);
    EXPECT_EQ(dial->entry_name, *row.entry);
    EXPECT_EQ(dial->phone_number, "");
    EXPECT_EQ(dial_state().connection_handle, dial->handle);
  }
}

TEST_F(DialEntry, HandsRasDialAExactlyTheDialParameters) {
  use_phone_book({kFirst});
  const std::string user = "user@isp \xd5\xcb\xba\xc5";  // "账号"
  const std::string password = "p\\w\"d \xc3\xdc";       // ends in "密"'s first byte

  ASSERT_TRUE(dial_entry("@n", user.c_str(), password.c_str(), true));

  const sim::CallRecord* dial = dial_call();
  ASSERT_NE(dial, nullptr);
  EXPECT_TRUE(dial->extensions_null);
  EXPECT_TRUE(dial->phonebook_null);
  EXPECT_EQ(dial->notifier_type, 0u);
  EXPECT_FALSE(dial->notifier);
  EXPECT_EQ(dial->handle_in, nullptr);
  EXPECT_EQ(dial->dw_size, 1052u);

  // The whole structure: zero everywhere but dwSize and the three texts.
  std::vector<unsigned char> expected(sizeof(RASDIALPARAMSA), 0);
  const DWORD size = 1052;
  std::memcpy(expected.data(), &size, sizeof size);
  std::memcpy(expected.data() + offsetof(RASDIALPARAMSA, szEntryName), kFirst.data(), kFirst.size());
  std::memcpy(expected.data() + offsetof(RASDIALPARAMSA, szUserName), user.data(), user.size());
  std::memcpy(expected.data() + offsetof(RASDIALPARAMSA, szPassword), password.data(), password.size());
  EXPECT_EQ(dial->params_bytes, expected);

  EXPECT_EQ(dial_state().connection_handle, dial->handle);
  EXPECT_NE(dial->handle, nullptr);
  EXPECT_EQ(dial_state().status_window, nullptr);
}

TEST_F(DialEntry, OtherSelectorsAreDialedAsPhoneNumbers) {
  struct Row {
    const char* name;
    const char* selector;
    const char* user;
    const char* password;
    DWORD dial_result;
  };
  const Row rows[] = {
      {"digits", "0123456789", "user", "secret", 0},
      {"@ not first", " @1", "user", "secret", 0},
      {"empty selector: the outcome is RasDialA's", "", "user", "secret", 0},
      {"empty selector, RasDialA fails", "", "user", "secret", 651},
      {"empty user name and password", "555", "", "", 0},
      {"absent texts read as empty", nullptr, nullptr, nullptr, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    dial_state() = DialState{};
    use_phone_book({kFirst});
    sim.script_dial({.result = row.dial_result});

    EXPECT_EQ(dial_entry(row.selector, row.user, row.password, true), row.dial_result == 0);

    EXPECT_TRUE(sim.calls_of(Call::RasEnumEntriesA).empty());
    const sim::CallRecord* dial = dial_call();
    ASSERT_NE(dial, nullptr);
    EXPECT_EQ(dial->entry_name, "");
    EXPECT_EQ(dial->phone_number, row.selector != nullptr ? row.selector : "");
    EXPECT_EQ(dial->callback_number, "");
    EXPECT_EQ(dial->user_name, row.user != nullptr ? row.user : "");
    EXPECT_EQ(dial->password, row.password != nullptr ? row.password : "");
    EXPECT_EQ(dial->domain, "");
  }
}

TEST_F(DialEntry, RefusalsDialNothingAndLeaveTheEarlierConnectionHungUp) {
  const std::string long_257(257, 'u');
  const std::string long_300(300, '\xff');
  const std::string number_129(129, '5');
  struct Row {
    const char* name;
    std::string selector;
    std::string user;
    std::string password;
    std::function<void(sim::RasSimulator&)> setup;
    bool lists_phone_book;
  };
  auto three_entries = [](sim::RasSimulator& s) {
    s.add_entry(kFirst);
    s.add_entry(kSecond);
    s.add_entry(kThird);
  };
  const Row rows[] = {
      {"empty phone book", "@n", "user", "secret", [](sim::RasSimulator&) {}, true},
      {"index past the last entry", "@3", "user", "secret", three_entries, true},
      {"negative index", "@-1", "user", "secret", three_entries, true},
      {"phone book cannot be listed", "@0", "user", "secret",
       [](sim::RasSimulator& s) {
         s.add_entry(kFirst);
         s.script_result(Call::RasEnumEntriesA, 5);
       },
       true},
      {"more than 38 entries do not fit the listing", "@0", "user", "secret",
       [](sim::RasSimulator& s) {
         for (int i = 0; i < 39; ++i) s.add_entry("entry" + std::to_string(i));
       },
       true},
      {"service claims more entries than the listing holds", "@40", "user", "secret",
       [](sim::RasSimulator& s) { s.script_result(Call::RasEnumEntriesA, 0, 1, 50); }, true},
      {"user name of 257 bytes", "@0", long_257, "secret", three_entries, false},
      {"password of 257 bytes", "@0", "user", long_257, three_entries, false},
      {"user name and password of 300 bytes", "@0", long_300, long_300, three_entries, false},
      {"phone number of 129 bytes", number_129, "user", "secret", three_entries, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    dial_state() = DialState{};
    row.setup(sim);
    store_earlier_dial();

    EXPECT_FALSE(dial_entry(row.selector.c_str(), row.user.c_str(), row.password.c_str(), true));

    Lines calls = summary();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(Lines(calls.begin(), calls.begin() + 2), (Lines{"RasHangUpA 1", "RasGetConnectStatusA 1"}));
    EXPECT_EQ(sim.calls_of(Call::RasEnumEntriesA).size(), row.lists_phone_book ? 1u : 0u);
    EXPECT_TRUE(sim.calls_of(Call::RasDialA).empty());
    EXPECT_EQ(dial_state().connection_handle, nullptr);
    EXPECT_EQ(dial_state().status_window, nullptr);
    expect_listing_inputs(sim);
  }
}

TEST_F(DialEntry, FieldsThatJustFitArePassedWhole) {
  const std::string user(256, 'u');
  const std::string password(256, '\xb5');
  const std::string number(128, '9');
  struct Row {
    const char* name;
    std::string selector;
    std::string user;
    std::string password;
  };
  const Row rows[] = {
      {"user name and password of 256 bytes", "@0", user, password},
      {"phone number of 128 bytes", number, "user", "secret"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    dial_state() = DialState{};
    use_phone_book({kFirst});

    EXPECT_TRUE(dial_entry(row.selector.c_str(), row.user.c_str(), row.password.c_str(), true));

    const sim::CallRecord* dial = dial_call();
    ASSERT_NE(dial, nullptr);
    EXPECT_EQ(dial->user_name, row.user);
    EXPECT_EQ(dial->password, row.password);
    if (row.selector[0] != '@') {
      EXPECT_EQ(dial->phone_number, row.selector);
    }
    // Each text keeps its terminating zero inside its own field.
    EXPECT_EQ(dial->params_bytes[offsetof(RASDIALPARAMSA, szUserName) + row.user.size()], 0);
    EXPECT_EQ(dial->params_bytes[offsetof(RASDIALPARAMSA, szPassword) + row.password.size()], 0);
  }
}

TEST_F(DialEntry, EarlierConnectionIsHungUpBeforeANewDial) {
  use_phone_book({kFirst});
  store_earlier_dial();

  ASSERT_TRUE(dial_entry("@n", "user", "secret", true));

  EXPECT_EQ(summary(), (Lines{"RasHangUpA 1", "RasGetConnectStatusA 1", "RasEnumEntriesA", "RasDialA"}));
  EXPECT_EQ(sim.calls_of(Call::RasDialA).at(0).handle_in, nullptr) << "RasDialA gets a null handle field";
  EXPECT_EQ(dial_state().connection_handle, sim.calls_of(Call::RasDialA).at(0).handle);
}

TEST_F(DialEntry, FailedDialHangsUpAndForgetsAnyHandleItWrote) {
  struct Row {
    const char* name;
    bool writes_handle;
    Lines calls_after_dial;
  };
  const Row rows[] = {
      {"handle written", true, {"RasHangUpA 1", "RasGetConnectStatusA 1"}},
      {"no handle written", false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    dial_state() = DialState{};
    use_phone_book({kFirst});
    sim.script_dial({.result = ERROR_AUTHENTICATION_FAILURE, .writes_handle = row.writes_handle});

    EXPECT_FALSE(dial_entry("@n", "user", "wrong", true));

    Lines calls = summary();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[1], "RasDialA");
    EXPECT_EQ(Lines(calls.begin() + 2, calls.end()), row.calls_after_dial);
    EXPECT_EQ(dial_state().connection_handle, nullptr);
    EXPECT_TRUE(sim.connections().empty()) << "the written handle is gone";
  }
}

// The dial parameters live on dial_entry's stack. They are checked through the address RasDialA was
// given, at the first call dial_entry makes after RasDialA has returned (while they still exist):
// the hang-up of a failed dial, or the resolution of the status window of a notified one.
TEST_F(DialEntry, DialParametersAreWipedOnceRasDialAReturns) {
  struct Row {
    const char* name;
    sim::DialOutcome outcome;
    std::optional<bool> wait;
    bool with_window;
  };
  const Row rows[] = {
      {"failed dial that wrote a handle",
       {.result = ERROR_AUTHENTICATION_FAILURE, .writes_handle = true},
       true,
       false},
      {"notified dial with a status window",
       {.result = ERROR_SUCCESS, .state = RASCS_OpenPort},
       std::nullopt,
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    dial_state() = DialState{};
    use_phone_book({kFirst});
    sim.script_dial(row.outcome);
    std::optional<StatusWindow> window;
    if (row.with_window) {
      window = StatusWindow{sim.create_window()};
    }
    std::optional<std::vector<unsigned char>> seen_after_dial;
    sim.on_call = [&](Call) {
      if (seen_after_dial || sim.calls().empty() || sim.calls().back().call != Call::RasDialA) {
        return;
      }
      const auto* bytes = reinterpret_cast<const unsigned char*>(sim.calls().back().params_address);
      seen_after_dial.emplace(bytes, bytes + sizeof(RASDIALPARAMSA));
    };

    dial_entry("@n", "user", "secret password", row.wait, window);

    EXPECT_EQ(sim.calls_of(Call::RasDialA).at(0).password, "secret password");
    ASSERT_TRUE(seen_after_dial.has_value()) << "a call after RasDialA";
    EXPECT_EQ(*seen_after_dial, std::vector<unsigned char>(sizeof(RASDIALPARAMSA), 0));
  }
}

TEST_F(DialEntry, WaitChoosesTheModeAndOnlyTheNotifiedModeUsesTheWindow) {
  enum class WindowCase { none, live, destroyed };
  struct Row {
    const char* name;
    std::optional<bool> wait;
    WindowCase window;
    DWORD dial_result;
    bool notifier;
    bool resolved;
    bool stored_window;
  };
  const Row rows[] = {
      {"wait absent, live window", std::nullopt, WindowCase::live, 0, true, true, true},
      {"wait false, live window", false, WindowCase::live, 0, true, true, true},
      {"wait true, live window: window unused", true, WindowCase::live, 0, false, false, false},
      {"wait absent, no window", std::nullopt, WindowCase::none, 0, true, false, false},
      {"wait absent, window that cannot be resolved", std::nullopt, WindowCase::destroyed, 0, true, true,
       false},
      {"wait absent, dial fails", std::nullopt, WindowCase::live, 651, true, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    dial_state() = DialState{};
    use_phone_book({kFirst});
    // A notified dial returns once started; the connection is still opening its port.
    sim.script_dial({.result = row.dial_result, .state = RASCS_OpenPort});
    std::optional<StatusWindow> window;
    NativeWindow native = nullptr;
    if (row.window != WindowCase::none) {
      native = sim.create_window();
      window = StatusWindow{native};
      if (row.window == WindowCase::destroyed) {
        sim.destroy_window(native);
      }
    }

    EXPECT_EQ(dial_entry("@n", "user", "secret", row.wait, window), row.dial_result == 0);

    const sim::CallRecord dial = sim.calls_of(Call::RasDialA).at(0);
    EXPECT_EQ(dial.notifier, row.notifier);
    EXPECT_EQ(dial.notifier_type, 0u);
    EXPECT_EQ(sim.calls_of(Call::resolve).size(), row.resolved ? 1u : 0u);
    EXPECT_TRUE(sim.calls_of(Call::IsWindow).empty());
    EXPECT_TRUE(sim.calls_of(Call::SetWindowTextA).empty());
    EXPECT_EQ(dial_state().status_window, row.stored_window ? native : nullptr);
    EXPECT_EQ(dial_state().connection_handle, row.dial_result == 0 ? dial.handle : nullptr);
  }
}

TEST_F(DialEntry, NotifiedProgressReachesTheStatusWindow) {
  use_phone_book({kFirst});
  sim.script_dial({.result = ERROR_SUCCESS, .state = RASCS_OpenPort});
  NativeWindow window = sim.create_window();

  ASSERT_TRUE(dial_entry("@n", "user", "secret", std::nullopt, StatusWindow{window}));
  ASSERT_TRUE(sim.notify(RASCS_Authenticated, 0));

  EXPECT_EQ(sim.window_text(window), "\xd3\xc3\xbb\xa7\xd1\xe9\xd6\xa4\xcd\xa8\xb9\xfd");  // "用户验证通过"
  EXPECT_EQ(sim.calls_of(Call::InvalidateRect).size(), 1u);
}

class DialStatusCallback : public DialupTest {};

TEST_F(DialStatusCallback, ShowsTheTextOfTheStateOrError) {
  struct Row {
    DWORD state;
    DWORD error;
    const char* text;  // null: the window is left unchanged
  };
  const Row rows[] = {
      {RASCS_AuthNotify, 691, "\xd3\xc3\xbb\xa7\xd1\xe9\xd6\xa4\xca\xa7\xb0\xdc"},   // "用户验证失败"
      {RASCS_ConnectDevice, 678, "\xd3\xd0\xb4\xed\xce\xf3\xb7\xa2\xc9\xfa"},        // "有错误发生"
      {RASCS_Connected, 1, "\xd3\xd0\xb4\xed\xce\xf3\xb7\xa2\xc9\xfa"},              // "有错误发生"
      {RASCS_OpenPort, 0, "\xd5\xfd\xd4\xda\xb4\xf2\xbf\xaa\xb6\xcb\xbf\xda"},       // "正在打开端口"
      {RASCS_PortOpened, 0, "\xb6\xcb\xbf\xda\xb1\xbb\xb4\xf2\xbf\xaa"},             // "端口被打开"
      {RASCS_ConnectDevice, 0, "\xd5\xfd\xd4\xda\xc1\xac\xbd\xd3\xc9\xe8\xb1\xb8"},  // "正在连接设备"
      {RASCS_DeviceConnected, 0, "\xc9\xe8\xb1\xb8\xb1\xbb\xc1\xac\xbd\xd3"},        // "设备被连接"
      {RASCS_Authenticate, 0, "\xd5\xfd\xd4\xda\xd1\xe9\xd6\xa4\xd3\xc3\xbb\xa7"},   // "正在验证用户"
      {RASCS_Authenticated, 0, "\xd3\xc3\xbb\xa7\xd1\xe9\xd6\xa4\xcd\xa8\xb9\xfd"},  // "用户验证通过"
      {RASCS_Connected, 0, "\xc1\xac\xbd\xd3\xb3\xc9\xb9\xa6"},                      // "连接成功"
      {RASCS_Disconnected, 0, "\xc1\xac\xbd\xd3\xb1\xbb\xb6\xcf\xbf\xaa"},           // "连接被断开"
      {RASCS_AllDevicesConnected, 0, nullptr},
      {RASCS_AuthNotify, 0, nullptr},
      {7, 0, nullptr},
      {0x1000, 0, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("state " + std::to_string(row.state) + ", error " + std::to_string(row.error));
    sim.reset();
    NativeWindow window = sim.create_window();
    dial_state() = DialState{sim.add_connection(RASCS_OpenPort), window};

    dial_status_callback(0xCCCD, row.state, row.error);

    if (row.text == nullptr) {
      EXPECT_EQ(summary(), (Lines{"IsWindow 1"}));
      continue;
    }
    EXPECT_EQ(summary(), (Lines{"IsWindow 1", "SetWindowTextA 1", "InvalidateRect 1"}));
    EXPECT_EQ(sim.window_text(window), row.text);
    EXPECT_EQ(sim.calls().back().line(), "InvalidateRect hwnd=1 rect=null erase=1");
    EXPECT_EQ(dial_state().connection_handle, reinterpret_cast<HRASCONN>(1))
        << "the callback changes nothing";
  }
}

TEST_F(DialStatusCallback, NeedsAStoredConnectionAndAWindowThatStillExists) {
  struct Row {
    const char* name;
    bool stored;
    bool window_stored;
    bool destroyed;
    Lines calls;
  };
  const Row rows[] = {
      {"no stored connection", false, true, false, {}},
      {"no status window", true, false, false, {}},
      {"destroyed status window", true, true, true, {"IsWindow 1"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim.reset();
    NativeWindow window = sim.create_window();
    if (row.destroyed) {
      sim.destroy_window(window);
    }
    dial_state() = DialState{row.stored ? sim.add_connection(RASCS_OpenPort) : nullptr,
                             row.window_stored ? window : nullptr};

    dial_status_callback(0xCCCD, RASCS_Connected, 0);

    EXPECT_EQ(summary(), row.calls);
  }
}

// Arbitrary bytes in every text and RAS calls failing at random steps: no crash and no access outside
// a structure (the sanitizers watch), and the result is true exactly when RasDialA answered 0.
TEST_F(DialEntry, ArbitraryInputAndFailingCallsGiveConsistentResults) {
  std::mt19937 random(20240531);
  auto text_of_length = [&](std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
      text += static_cast<char>(1 + random() % 255);
    }
    return text;
  };
  auto any_length = [&]() {
    return static_cast<std::size_t>(random() % 3 == 0 ? random() % 300 : random() % 20);
  };
  const Call ras_calls[] = {Call::RasEnumEntriesA, Call::RasDialA, Call::RasGetConnectStatusA,
                            Call::RasEnumConnectionsA, Call::RasHangUpA};
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    sim.reset();
    sim.tick_step = 250;  // keeps handles that never go from costing 3000 queries
    dial_state() = DialState{};
    for (std::uint32_t i = random() % 41; i > 0; --i) {
      sim.add_entry(text_of_length(random() % 258));
    }
    for (std::uint32_t i = random() % 3; i > 0; --i) {
      sim.add_connection(random() % 2 ? RASCS_Connected : RASCS_Authenticate, random() % 3 == 0 ? -1 : 0);
    }
    if (random() % 2) {
      dial_state().connection_handle = sim.add_connection(RASCS_Connected, random() % 2 ? -1 : 1);
    }
    for (Call call : ras_calls) {
      if (random() % 4 == 0) {
        sim.script_result(call, 1 + random() % 1000, random() % 2 ? -1 : 1);
      }
    }
    if (random() % 3 == 0) {
      sim.script_dial({.result = static_cast<DWORD>(random() % 2 ? 0 : 691),
                       .writes_handle = random() % 2 == 0,
                       .vanish_after = random() % 4 == 0 ? -1 : 0});
    }
    std::string selector = text_of_length(any_length());
    if (random() % 2) {
      selector.insert(selector.begin(), '@');
    }
    const std::string user = text_of_length(any_length());
    const std::string password = text_of_length(any_length());

    is_connected();
    const bool dialed = dial_entry(selector.c_str(), user.c_str(), password.c_str(), random() % 2 == 0);

    const std::vector<sim::CallRecord> dials = sim.calls_of(Call::RasDialA);
    ASSERT_LE(dials.size(), 1u);
    EXPECT_EQ(dialed, dials.size() == 1 && dials[0].result == 0);
    if (!dialed) {
      EXPECT_EQ(dial_state().connection_handle, nullptr);
    }
    if (dials.size() == 1) {
      EXPECT_EQ(dials[0].user_name, user);
      EXPECT_EQ(dials[0].password, password);
      EXPECT_EQ(dials[0].phone_number, selector[0] == '@' ? "" : selector);
    }
    hang_up_all();
    EXPECT_EQ(dial_state().connection_handle, nullptr);
  }
}

TEST_F(DialEntry, EveryRasCallFailingLeavesNothingStored) {
  use_phone_book({kFirst});
  HRASCONN listed = sim.add_connection(RASCS_Connected);
  store_earlier_dial();
  for (Call call : {Call::RasEnumEntriesA, Call::RasDialA, Call::RasGetConnectStatusA,
                    Call::RasEnumConnectionsA, Call::RasHangUpA}) {
    sim.script_result(call, 5, -1);
  }
  sim.tick_step = 100;

  EXPECT_FALSE(is_connected());
  EXPECT_FALSE(dial_entry("@n", "user", "secret", true));
  EXPECT_EQ(dial_state().connection_handle, nullptr);
  EXPECT_FALSE(dial_entry("123", "user", "secret", std::nullopt, StatusWindow{sim.create_window()}));
  EXPECT_EQ(dial_state().status_window, nullptr);
  hang_up_all();
  EXPECT_TRUE(sim.exists(listed)) << "no hang-up got through";
}

}  // namespace
}  // namespace adsl::dialup_test
