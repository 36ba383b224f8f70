// Hang-up reaction: how long after the simulated connection's handle turns invalid hang_up_and_wait
// returns, on the real clock and yield. The reference is the least any waiter can do: a loop that
// only queries the same service until the handle is invalid, measured the same way.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>

#include "dialup/dial_state.h"
#include "ras_simulator.h"
#include "services/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

// The simulated service, except that a hung-up connection goes away at a moment of real time: the
// first status query at or after `vanish_at` answers ERROR_INVALID_HANDLE.
class TimedHangUp final : public adsl::RasOperations {
 public:
  explicit TimedHangUp(Clock::duration delay) : delay_(delay) {}

  adsl::sim::RasSimulator sim;
  Clock::time_point vanish_at = Clock::time_point::max();

  adsl::DWORD RasEnumEntriesA(const char* reserved, const char* phonebook, adsl::RASENTRYNAMEA* entries,
                              adsl::DWORD* lpcb, adsl::DWORD* count) override {
    return sim.RasEnumEntriesA(reserved, phonebook, entries, lpcb, count);
  }
  adsl::DWORD RasDialA(const void* extensions, const char* phonebook, adsl::RASDIALPARAMSA* params,
                       adsl::DWORD notifier_type, adsl::RasDialNotifier notifier,
                       adsl::HRASCONN* handle) override {
    return sim.RasDialA(extensions, phonebook, params, notifier_type, notifier, handle);
  }
  adsl::DWORD RasGetConnectStatusA(adsl::HRASCONN handle, adsl::RASCONNSTATUSA* status) override {
    if (Clock::now() >= vanish_at) return adsl::ERROR_INVALID_HANDLE;
    return sim.RasGetConnectStatusA(handle, status);
  }
  adsl::DWORD RasEnumConnectionsA(adsl::RASCONNA* connections, adsl::DWORD* lpcb,
                                  adsl::DWORD* count) override {
    return sim.RasEnumConnectionsA(connections, lpcb, count);
  }
  adsl::DWORD RasHangUpA(adsl::HRASCONN handle) override {
    vanish_at = Clock::now() + delay_;
    return sim.RasHangUpA(handle);
  }

 private:
  Clock::duration delay_;
};

// The connection takes this long to go away after the hang-up, so the waiter is polling when it does.
constexpr auto kVanishDelay = std::chrono::microseconds(200);

template <typename Wait>
void measure(benchmark::State& state, Wait wait) {
  TimedHangUp service(kVanishDelay);
  const adsl::DialupPlatform saved = adsl::dialup_platform();
  adsl::dialup_platform() = adsl::DialupPlatform{&service, &service.sim};
  for (auto _ : state) {
    service.sim.reset();
    // A connection that never goes by itself: only the timed hang-up ends it.
    const adsl::HRASCONN handle = service.sim.add_connection(adsl::RASCS_Connected, -1);
    service.vanish_at = Clock::time_point::max();
    wait(service, handle);
    const Clock::time_point returned = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(returned - service.vanish_at).count());
  }
  adsl::dialup_platform() = saved;
}

void hang_up_reaction(benchmark::State& state) {
  measure(state, [](TimedHangUp&, adsl::HRASCONN handle) { adsl::hang_up_and_wait(handle); });
}

void bare_polling_reference(benchmark::State& state) {
  measure(state, [](TimedHangUp& service, adsl::HRASCONN handle) {
    service.RasHangUpA(handle);
    adsl::RASCONNSTATUSA status{};
    status.dwSize = sizeof status;
    while (service.RasGetConnectStatusA(handle, &status) != adsl::ERROR_INVALID_HANDLE) {
    }
  });
}

BENCHMARK(hang_up_reaction)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(bare_polling_reference)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
