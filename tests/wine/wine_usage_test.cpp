// The x86_64 exe under Wine on the usage way: standard output to a file, standard input empty.
#include <gtest/gtest.h>

#include <string>

#include "run_program.h"
#include "wine_support.h"

namespace adsl::testing {
namespace {

std::string text_mode(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(WineUsageWay, WritesTheUsageWithTheExesOwnPathToAFile) {
  const std::string exe = std::string(ADSL_WINDOWS_X64_DIR) + "/adsl.exe";
  ProgramRun run = run_under_wine(exe, {});
  std::string expected =
      text_mode(gbk("┏                欢迎使用Qov自动ADSL拨号             ┓\r\n"
                    "┠──────────────────────────┨\r\n"
                    "使用说明：") +
                windows_path(ADSL_WINDOWS_X64_DIR) + "\\adsl.exe" +
                gbk(" ADSL账号 ADSL密码\r\n"
                    "例如：账号为07551234567@163.gd 密码为：DCADCEA 本程序的路径为 d:\\adsl.exe\r\n"
                    "输入命令： d:\\adsl.exe 07551234567@163.gd DCADCEA"));
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
