// The x86_64 exe under Wine on the usage way: standard output to a file, standard input empty.
#include <gtest/gtest.h>

#include <string>

#include "dial_way_cases.h"
#include "run_program.h"
#include "wine_support.h"

namespace adsl::testing {
namespace {

TEST(WineUsageWay, WritesTheUsageWithTheExesOwnPathToAFile) {
  const std::string exe = std::string(ADSL_WINDOWS_X64_DIR) + "/adsl.exe";
  ProgramRun run = run_under_wine(exe, {});
  std::string expected = usage_way_output(windows_path(ADSL_WINDOWS_X64_DIR) + "\\adsl.exe");
  EXPECT_EQ(visible(run.output), visible(expected)) << "wine said: " << run.error;
  EXPECT_EQ(run.exit_code, 0);
}

TEST(WineUsageWay, ThreeArgumentsDoNotDial) {
  const std::string exe = std::string(ADSL_WINDOWS_X64_DIR) + "/adsl.exe";
  ProgramRun run = run_under_wine(exe, {"a", "b", "c"});
  EXPECT_NE(run.output.find(gbk("使用说明：")), std::string::npos) << visible(run.output);
  EXPECT_EQ(run.output.find(gbk("账号：")), std::string::npos);
  EXPECT_EQ(run.exit_code, 0);
}

}  // namespace
}  // namespace adsl::testing
