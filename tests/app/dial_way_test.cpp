// The whole program on the dial way over the simulated RAS service (the test build adsl_simulated):
// exact output through a pipe, the exit code, the three-second pause, the RAS calls in order with the
// bytes handed to RasDialA, and the exit-time rule of the dial-up record on each way of ending.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dial_way_cases.h"
#include "run_program.h"

namespace adsl::testing {
namespace {

struct SimulatedRun {
  ProgramRun run;
  std::string record;
};

std::string work_directory(const std::string& name) {
  mkdir(ADSL_APP_WORK, 0755);
  std::string dir = std::string(ADSL_APP_WORK) + "/" + name;
  mkdir(dir.c_str(), 0755);
  return dir;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

/// Runs the test build with `arguments` over `scenario`, standard input from /dev/null. `slot` names
/// the run's own files, so runs can go side by side.
SimulatedRun run_simulated(const std::string& slot, const std::vector<std::string>& arguments,
                           const std::string& scenario) {
  const std::string dir = work_directory(slot);
  const std::string scenario_path = dir + "/scenario.txt";
  const std::string record_path = dir + "/record.txt";
  write_file(scenario_path, scenario);
  std::remove(record_path.c_str());
  ProgramInput input;
  input.environment = {"ADSL_SIM_SCENARIO=" + scenario_path, "ADSL_SIM_RECORD=" + record_path};
  SimulatedRun result;
  result.run = run_program(ADSL_SIMULATED_BINARY, arguments, input);
  result.record = read_file(record_path);
  return result;
}

std::string slot_name(const std::string& test, std::size_t row) {
  return test + "-" + std::to_string(row);
}

TEST(DialWay, ScenariosEndToEnd) {
  const std::vector<DialCase> cases = dial_way_cases();
  std::vector<SimulatedRun> runs(cases.size());
  run_side_by_side(cases.size(), [&](std::size_t i) {
    runs[i] = run_simulated(slot_name("dial-way", i), cases[i].arguments, cases[i].scenario);
  });
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(visible(runs[i].run.output), visible(cases[i].output));
    EXPECT_EQ(runs[i].record, cases[i].record);
    EXPECT_EQ(runs[i].run.exit_code, 0);
    EXPECT_EQ(runs[i].run.error, "");
  }
}

TEST(DialWay, PausesThreeSecondsBeforeItEnds) {
  const DialCase good = dial_way_cases().front();
  SimulatedRun run = run_simulated("pause", good.arguments, good.scenario);
  EXPECT_EQ(run.run.exit_code, 0);
  EXPECT_GE(run.run.duration.count(), 3000);
  // Nothing in this scenario waits but the pause: the run ends well before a second one could pass.
  EXPECT_LT(run.run.duration.count(), 6000);
}

// A connection stored in the dial-up record as if this process had dialed it ("stored" in the test
// build's scenario). The exit-time rule runs on the return path of the usage way and hangs up a stored
// connection that is not connected; the dial way ends through terminate_program, which skips it.
TEST(DialWay, ExitTimeRuleRunsOnTheUsageWayOnly) {
  using namespace record;
  const std::string entries = "entry dsl\n";
  struct Row {
    std::string name;
    std::vector<std::string> arguments;
    std::string scenario;
    std::string record;
  };
  const std::vector<Row> rows = {
      {"usage way, stored connection still authenticating",
       {"only-one"},
       "stored authenticate\n",
       status(1, 0x5) + hang_up(1) + status_fails(1, 6)},
      {"usage way, stored connection connected", {"a", "b", "c"}, "stored connected\n", status(1, 0x2000)},
      // The dial hangs up the stored connection first and stores the new one, which the rule would
      // query at exit: nothing may follow RasDialA.
      {"dial way, stored connection still authenticating",
       {"user", "pass"},
       entries + "stored authenticate\n",
       status(1, 0x5) + enum_connections(1) + status(1, 0x5) + hang_up(1) + status_fails(1, 6) +
           enum_entries(1) + dial("dsl", "user", "pass", 0, 2)},
      // RasDialA leaves a connection that is still authenticating: the rule would hang it up.
      {"dial way, new connection not yet connected",
       {"user", "pass"},
       entries + "dial result 0 state authenticate\n",
       enum_connections(0) + enum_entries(1) + dial("dsl", "user", "pass", 0, 1)},
  };
  std::vector<SimulatedRun> runs(rows.size());
  run_side_by_side(rows.size(), [&](std::size_t i) {
    runs[i] = run_simulated(slot_name("exit-rule", i), rows[i].arguments, rows[i].scenario);
  });
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(runs[i].record, rows[i].record);
    EXPECT_EQ(runs[i].run.exit_code, 0);
    EXPECT_EQ(runs[i].run.error, "");
  }
}

}  // namespace
}  // namespace adsl::testing
