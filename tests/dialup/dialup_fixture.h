// The world of a dial-up test: the simulated RAS service installed as the dial-up platform and as
// the clock, and an empty DialState; the previous platform is put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dialup/dial_state.h"
#include "dialup/ras.h"
#include "ras_simulator.h"
#include "services/platform.h"

namespace adsl::dialup_test {

/// A handle as the call summaries show it.
inline std::string id(const void* handle) {
  return std::to_string(reinterpret_cast<std::uintptr_t>(handle));
}

class DialupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_dialup_ = dialup_platform();
    saved_clock_ = platform().clock;
    dialup_platform() = DialupPlatform{&sim, &sim};
    platform().clock = &sim;
    dial_state() = DialState{};
  }

  void TearDown() override {
    dial_state() = DialState{};
    dialup_platform() = saved_dialup_;
    platform().clock = saved_clock_;
  }

  /// The calls made so far, each as its name followed by the handle or window it was made on.
  std::vector<std::string> summary() const {
    std::vector<std::string> lines;
    for (const sim::CallRecord& record : sim.calls()) {
      std::string line = sim::call_name(record.call);
      switch (record.call) {
        case sim::Call::RasGetConnectStatusA:
        case sim::Call::RasHangUpA:
          line += " " + id(record.handle);
          break;
        case sim::Call::resolve:
        case sim::Call::IsWindow:
        case sim::Call::SetWindowTextA:
        case sim::Call::InvalidateRect:
          line += " " + id(record.window);
          break;
        default:
          break;
      }
      lines.push_back(line);
    }
    return lines;
  }

  sim::RasSimulator sim;

 private:
  DialupPlatform saved_dialup_{};
  Clock* saved_clock_ = nullptr;
};

}  // namespace adsl::dialup_test
