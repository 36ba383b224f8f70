// Pause overshoot: how far past 3000 ms pause_with_events(3000) returns on the real clock, beside a
// plain sleep of 3000 ms on the same machine. Three runs of each (18 s in all); the time reported is
// the overshoot alone.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "services/frame.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPause = std::chrono::milliseconds(3000);

template <typename Pause>
void measure(benchmark::State& state, Pause pause) {
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    pause();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start - kPause).count());
  }
}

void pause_overshoot(benchmark::State& state) {
  measure(state, [] { adsl::pause_with_events(3000); });
}

void sleep_overshoot_reference(benchmark::State& state) {
  measure(state, [] { std::this_thread::sleep_for(kPause); });
}

BENCHMARK(pause_overshoot)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(sleep_overshoot_reference)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
