// The native program end to end on the usage way: exact bytes through a pipe, exit code, no wait at
// the end of input.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "dial_way_cases.h"
#include "run_program.h"

namespace adsl::testing {
namespace {

std::string program_path() {
  char resolved[PATH_MAX];
  return realpath(ADSL_BINARY, resolved) != nullptr ? resolved : ADSL_BINARY;
}

std::string expected_usage_output() {
  std::string path = program_path();
  std::string directory = path.substr(0, path.rfind('/'));
  std::string name = path.substr(path.rfind('/') + 1);
  return usage_way_output(directory + "/" + name);
}

TEST(UsageWay, AnyCountButTwoShowsUsageAndExitsZero) {
  const std::vector<std::vector<std::string>> cases = {{}, {"one"}, {"a", "b", "c"}, {"", "", ""}};
  for (const auto& arguments : cases) {
    SCOPED_TRACE(::testing::Message() << arguments.size() << " arguments");
    ProgramRun run = run_program(ADSL_BINARY, arguments);
    EXPECT_EQ(visible(run.output), visible(expected_usage_output()));
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.error, "");
  }
}

TEST(UsageWay, BannerLinesAreFiftySixBytesBeforeTheirLineEnd) {
  ProgramRun run = run_program(ADSL_BINARY, {});
  std::size_t first = run.output.find("\r\r\n");
  ASSERT_NE(first, std::string::npos);
  std::size_t second = run.output.find("\r\r\n", first + 3);
  EXPECT_EQ(first, 56u);
  EXPECT_EQ(second - (first + 3), 56u);
}

TEST(UsageWay, ReadsOneLineAndIgnoresIt) {
  // A typed line (or more) changes nothing in the output; the program ends after the first line.
  for (const std::string& typed :
       {std::string("\n"), std::string("anything\r\nmore\n"), std::string(3000, 'x')}) {
    SCOPED_TRACE(typed.size());
    ProgramInput input;
    input.bytes = typed;
    ProgramRun run = run_program(ADSL_BINARY, {"only-one"}, input);
    EXPECT_EQ(visible(run.output), visible(expected_usage_output()));
    EXPECT_EQ(run.exit_code, 0);
  }
}

TEST(UsageWay, RunDirectoryIsTheProgramsOwnWhereverItStarts) {
  ProgramInput from_root;
  from_root.directory = "/";
  ProgramRun run = run_program(ADSL_BINARY, {}, from_root);
  EXPECT_EQ(visible(run.output), visible(expected_usage_output()));
}

TEST(UsageWay, EndOfInputDoesNotWait) {
  // /dev/null and an empty pipe both end at once; a wait for a line would hang until the test times out.
  ProgramRun from_null = run_program(ADSL_BINARY, {});
  ProgramInput empty_pipe;
  empty_pipe.bytes = std::string();
  ProgramRun from_empty_pipe = run_program(ADSL_BINARY, {}, empty_pipe);
  EXPECT_EQ(from_null.exit_code, 0);
  EXPECT_EQ(from_empty_pipe.exit_code, 0);
  EXPECT_LT(from_null.duration.count(), 2500);
  EXPECT_LT(from_empty_pipe.duration.count(), 2500);
}

}  // namespace
}  // namespace adsl::testing
