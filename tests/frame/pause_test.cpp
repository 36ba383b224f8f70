#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "frame_fakes.h"
#include "services/frame.h"
#include "services/message_queue.h"
#include "services/platform.h"

namespace adsl::testing {
namespace {

struct PauseCase {
  const char* name;
  std::int32_t milliseconds;
  std::vector<std::string> waiting;  // the queue when the pause starts, "quit" for WM_QUIT
  std::vector<ScriptedClock::Reading> readings;
  std::string steps;  // see PauseLog
  std::vector<std::string> dispatched;
  std::vector<std::string> left_waiting;
};

// Every row's readings are exactly the ones the pause needs: it must take them all (no early end) and
// no more (no late end).
const PauseCase kPauseCases[] = {
    {"empty queue: two passes, then four between readings, until strictly more than the duration",
     10,
     {},
     {{1000, ""}, {1000, ""}, {1010, ""}, {1011, ""}},
     "T__T____T____T",
     {},
     {}},
    {"ticks that wrap past 2^32 during the pause",
     25,
     {},
     {{0xFFFFFFF0u, ""}, {0xFFFFFFFAu, ""}, {0x00000009u, ""}, {0x0000000Au, ""}},
     "T__T____T____T",
     {},
     {}},
    {"waiting messages are all dispatched in the first pass",
     10,
     {"a", "b"},
     {{0, ""}, {11, ""}},
     "TPdPd__T",
     {"a", "b"},
     {}},
    {"a quit heading the queue stops every pass and stays, with what waits behind it",
     10,
     {"quit", "a"},
     {{0, ""}, {5, ""}, {11, ""}},
     "TQQTQQQQT",
     {},
     {"quit", "a"}},
    {"a quit behind a message: the message is dispatched, the quit stays",
     10,
     {"a", "quit", "b"},
     {{0, ""}, {11, ""}},
     "TPdQQT",
     {"a"},
     {"quit", "b"}},
    {"messages posted during the pause are dispatched by the next passes",
     10,
     {},
     {{0, ""}, {4, "a"}, {8, "b"}, {11, ""}},
     "T__TPd____TPd____T",
     {"a", "b"},
     {}},
    {"a quit posted during the pause does not shorten it",
     10,
     {},
     {{0, ""}, {4, "quit"}, {8, "a"}, {10, ""}, {11, ""}},
     "T__TQQQQTQQQQTQQQQT",
     {},
     {"quit", "a"}},
    {"the largest duration still ends, on the first reading beyond it",
     INT32_MAX,
     {},
     {{7, ""}, {7u + 0x7FFFFFFFu, ""}, {8u + 0x7FFFFFFFu, ""}},
     "T__T____T",
     {},
     {}},
};

TEST(Pause, PassesClockReadingsAndQuitAsScripted) {
  for (const PauseCase& row : kPauseCases) {
    SCOPED_TRACE(row.name);
    PauseLog log;
    RecordingPump pump(log);
    pump.queue.assign(row.waiting.begin(), row.waiting.end());
    ScriptedClock clock(log, pump, row.readings);
    {
      ScopedPlatform world(nullptr, &clock, &pump);
      pause_with_events(row.milliseconds);
    }
    EXPECT_EQ(log.steps, row.steps);
    EXPECT_EQ(clock.overruns, 0) << "read the clock past the end of the pause";
    EXPECT_EQ(clock.readings_taken(), row.readings.size()) << "ended before the duration had passed";
    EXPECT_EQ(pump.dispatched, row.dispatched);
    EXPECT_EQ(std::vector<std::string>(pump.queue.begin(), pump.queue.end()), row.left_waiting);
    EXPECT_EQ(clock.yields, 0) << "a pause never gives up its time slice";
  }
}

TEST(Pause, ZeroOrNegativeDurationTouchesNeitherClockNorQueue) {
  for (std::int32_t milliseconds : {0, -5, INT32_MIN}) {
    SCOPED_TRACE(milliseconds);
    PauseLog log;
    RecordingPump pump(log);
    pump.queue = {"a", "quit"};
    ScriptedClock clock(log, pump, {{0, ""}});
    {
      ScopedPlatform world(nullptr, &clock, &pump);
      pause_with_events(milliseconds);
    }
    EXPECT_EQ(log.steps, "");
    EXPECT_EQ(pump.queue, (std::deque<std::string>{"a", "quit"}));
  }
}

// The real clock and the real queue of this platform.
std::vector<std::string> dispatched_for_real;

void record_and_post_b(std::intptr_t value) {
  dispatched_for_real.push_back("a" + std::to_string(value));
  // Posted while the pause runs: a later pass must dispatch it.
  post_thread_message([](std::intptr_t) { dispatched_for_real.push_back("b"); }, 0);
}

TEST(Pause, RealPauseLastsItsDurationAndDispatchesPostedMessages) {
  discard_thread_messages();
  dispatched_for_real.clear();
  ASSERT_TRUE(post_thread_message(record_and_post_b, 7));

  Clock& clock = system_clock();
  const std::uint32_t ticks_before = clock.tick_count();
  const auto before = std::chrono::steady_clock::now();
  pause_with_events(200);
  const auto elapsed = std::chrono::steady_clock::now() - before;
  const std::uint32_t ticks_elapsed = clock.tick_count() - ticks_before;

  EXPECT_GT(ticks_elapsed, 200u);
  EXPECT_GE(elapsed, std::chrono::milliseconds(200));
  EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
  EXPECT_EQ(dispatched_for_real, (std::vector<std::string>{"a7", "b"}));
  EXPECT_EQ(waiting_thread_messages(), 0u);
}

TEST(Pause, RealQuitStaysWaitingAndHoldsBackWhatFollowsIt) {
  discard_thread_messages();
  dispatched_for_real.clear();
  ASSERT_TRUE(post_quit_message());
  ASSERT_TRUE(post_thread_message([](std::intptr_t) { dispatched_for_real.push_back("behind quit"); }, 0));

  const auto before = std::chrono::steady_clock::now();
  pause_with_events(50);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));

  bool is_quit = false;
  EXPECT_TRUE(system_message_pump().peek(is_quit));
  EXPECT_TRUE(is_quit);
  EXPECT_EQ(waiting_thread_messages(), 2u);
  EXPECT_TRUE(dispatched_for_real.empty());
  discard_thread_messages();
}

TEST(MessageQueue, FullQueueRefusesRatherThanOverwrites) {
  discard_thread_messages();
  dispatched_for_real.clear();
  std::uint32_t accepted = 0;
  while (post_thread_message(
      [](std::intptr_t value) { dispatched_for_real.push_back(std::to_string(value)); }, accepted)) {
    ++accepted;
    ASSERT_LT(accepted, 100000u) << "the queue never fills";
  }
  EXPECT_FALSE(post_quit_message());
  EXPECT_FALSE(post_thread_message(nullptr, 0));
  EXPECT_EQ(waiting_thread_messages(), accepted);

  MessagePump& pump = system_message_pump();
  bool is_quit = true;
  while (pump.peek(is_quit)) {
    ASSERT_FALSE(is_quit);
    pump.get_translate_dispatch();
  }
  ASSERT_EQ(dispatched_for_real.size(), accepted);
  for (std::uint32_t i = 0; i < accepted; ++i) EXPECT_EQ(dispatched_for_real[i], std::to_string(i));
}

}  // namespace
}  // namespace adsl::testing
