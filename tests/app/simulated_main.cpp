// adsl_simulated: the whole program over the simulated RAS service, for end-to-end tests. The product
// reads no configuration; this test build alone takes a scenario from ADSL_SIM_SCENARIO and records
// every RAS call to ADSL_SIM_RECORD, then starts exactly as the product's main does.
//
// Test-only statements, understood here and not by the simulator:
//   stored STATE [options of "connection"]
//       Adds a connection as "connection" does and puts its handle into DialState, as if this process
//       had dialed it, so a test can see what the exit-time rule does with it.
// With ADSL_SIM_DIAL_TIME set, the CLOCK_REALTIME moment at which RasDialA is entered is written to
// that file as seconds with nine decimals, for measuring the time from process start to the dial.
#include <time.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialup/dial_state.h"
#include "dialup/ras.h"
#include "ras_simulator.h"
#include "recording_service.h"
#include "services/command_line.h"
#include "services/frame.h"

namespace {

constexpr char kDialTimeVariable[] = "ADSL_SIM_DIAL_TIME";
constexpr char kStoredStatement[] = "stored ";

void write_dial_time(const std::string& path) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  if (std::FILE* file = std::fopen(path.c_str(), "w")) {
    std::fprintf(file, "%lld.%09ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec);
    std::fclose(file);
  }
}

int fail(const std::string& why) {
  std::fprintf(stderr, "adsl_simulated: %s\n", why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using adsl::sim::RasSimulator;
  using adsl::testing::RecordingService;

  // Never destroyed: the exit-time rule of the usage way calls the service after every destructor.
  auto* simulator = new RasSimulator();
  auto* service =
      new RecordingService(*simulator, adsl::testing::environment_value(adsl::testing::kRecordVariable));

  std::string scenario;
  const std::string scenario_path = adsl::testing::environment_value(adsl::testing::kScenarioVariable);
  if (!scenario_path.empty() && !adsl::testing::read_whole_file(scenario_path, scenario)) {
    return fail(scenario_path + ": cannot be read");
  }
  std::string for_simulator;
  std::vector<std::string> stored;
  std::size_t start = 0;
  while (start < scenario.size()) {
    std::size_t end = scenario.find('\n', start);
    if (end == std::string::npos) end = scenario.size();
    const std::string line = scenario.substr(start, end - start);
    if (line.rfind(kStoredStatement, 0) == 0) {
      stored.push_back("connection " + line.substr(sizeof kStoredStatement - 1));
    } else {
      for_simulator += line + "\n";
    }
    start = end + 1;
  }
  if (!simulator->load_scenario_text(for_simulator)) {
    return fail(scenario_path + ": " + simulator->error());
  }
  for (const std::string& connection : stored) {
    if (!simulator->load_scenario_text(connection)) {
      return fail(scenario_path + ": stored: " + simulator->error());
    }
    adsl::dial_state().connection_handle = simulator->connections().back().handle;
  }

  const std::string dial_time_path = adsl::testing::environment_value(kDialTimeVariable);
  if (!dial_time_path.empty()) {
    simulator->on_call = [dial_time_path](adsl::sim::Call call) {
      if (call == adsl::sim::Call::RasDialA) write_dial_time(dial_time_path);
    };
  }

  // An empty record before the first call: a test can tell "no calls" from "never started".
  service->write_record();
  adsl::dialup_platform().ras = service;
  adsl::dialup_platform().windows = service;

  adsl::remember_process_arguments(argc, argv);
  adsl::program_entry();
}
