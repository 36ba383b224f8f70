// The real x86_64 exe under Wine over a test rasapi32.dll built from the simulated RAS service: the
// dial-way scenarios of the native test build with the same output and RAS calls, standard output
// redirected to a file (so the file holding the whole text proves terminate_program flushes), and the
// splitting of command lines that only CreateProcessA can produce, read back by the exe through
// GetCommandLineA.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dial_way_cases.h"
#include "run_program.h"
#include "wine_support.h"

namespace adsl::testing {
namespace {

const std::string kFixtures = std::string(ADSL_WINDOWS_X64_DIR) + "/tests/wine/fixtures";

struct WineDial {
  std::string directory;
  ProgramRun run;
  std::string record;
};

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

/// Copies adsl.exe and the test rasapi32.dll into a scratch directory of the slot's own and starts
/// the exe through the launcher with exactly `command_line`, over `scenario`.
WineDial run_exe(const std::string& slot, const std::string& command_line, const std::string& scenario) {
  namespace fs = std::filesystem;
  WineDial dial;
  dial.directory = scratch_directory(slot);
  fs::copy_file(std::string(ADSL_WINDOWS_X64_DIR) + "/adsl.exe", dial.directory + "/adsl.exe");
  fs::copy_file(kFixtures + "/rasapi32.dll", dial.directory + "/rasapi32.dll");
  write_bytes(dial.directory + "/scenario.txt", scenario);
  write_bytes(dial.directory + "/command.txt", command_line);
  WineOptions options;
  options.directory = dial.directory;
  options.dll_overrides = "rasapi32=n";
  options.environment = {"ADSL_SIM_SCENARIO=" + windows_path(dial.directory + "/scenario.txt"),
                         "ADSL_SIM_RECORD=" + windows_path(dial.directory + "/record.txt")};
  dial.run = run_under_wine(
      kFixtures + "/launcher.exe",
      {windows_path(dial.directory + "/command.txt"), windows_path(dial.directory + "/adsl.exe")}, options);
  dial.record = read_file(dial.directory + "/record.txt");
  return dial;
}

class WineDialWay : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& needed : {std::string(ADSL_WINDOWS_X64_DIR) + "/adsl.exe",
                                      kFixtures + "/launcher.exe", kFixtures + "/rasapi32.dll"}) {
      ASSERT_TRUE(std::filesystem::exists(needed))
          << needed << " is missing: build the windows-x86_64 preset";
    }
    prepare_wine_prefix();
  }
};

TEST_F(WineDialWay, ScenariosEndToEnd) {
  const std::vector<DialCase> cases = dial_way_cases();
  std::vector<WineDial> dials(cases.size());
  run_side_by_side(cases.size(), [&](std::size_t i) {
    // Each argument in quotes, so spaces and empty ones pass; none of the cases holds a quote.
    std::string command_line = "adsl.exe";
    for (const std::string& argument : cases[i].arguments) command_line += " \"" + argument + "\"";
    dials[i] = run_exe("dial-way-" + std::to_string(i), command_line, cases[i].scenario);
  });
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(visible(dials[i].run.output), visible(cases[i].output)) << "wine said: " << dials[i].run.error;
    EXPECT_EQ(dials[i].record, cases[i].record);
    EXPECT_EQ(dials[i].run.exit_code, 0);
  }
}

// Command lines as CreateProcessA hands them over, with the elements the dialer must find. With exactly
// two elements the dial way echoes them (an empty phone book, so nothing is dialed); with any other
// count the usage way is taken.
TEST_F(WineDialWay, SplitsTheCommandLineItIsGiven) {
  struct Row {
    std::string name;
    std::string command_line;
    std::vector<std::string> elements;
  };
  const std::vector<Row> rows = {
      {"quoted program name with spaces, then a space",
       "\"C:\\Program Files\\adsl.exe\" acc pwd",
       {"acc", "pwd"}},
      {"quoted program name directly followed by an argument", "\"adsl.exe\"acc pwd", {"acc", "pwd"}},
      {"command line starting with a space: the name is empty", " acc pwd", {"acc", "pwd"}},
      {"a tab does not end an unquoted name", "adsl.exe\tacc pwd", {"pwd"}},
      {"runs of spaces and tabs add nothing", "adsl.exe \t a \t\t b \t", {"a", "b"}},
      {"a quote ends an unquoted argument", "adsl.exe x\"y z\"", {"x", "y z"}},
      {"a closing quote ends a quoted argument", "adsl.exe \"x y\"z", {"x y", "z"}},
      {"backslashes escape nothing", "adsl.exe \\\"x y\\\"", {"\\", "x y\\"}},
      {"a lead byte binds a quote", "adsl.exe \xb0\"y z", {"\xb0\"y", "z"}},
      {"a lead byte binds a space", "adsl.exe \xb0 y z", {"\xb0 y", "z"}},
      {"a trailing lead byte is dropped", "adsl.exe x ab\xb0", {"x", "ab"}},
      {"an unclosed quote runs to the end", "adsl.exe x \"y z", {"x", "y z"}},
      {"two empty quoted arguments", "adsl.exe \"\" \"\"", {"", ""}},
      {"a quote as the last byte", "adsl.exe a \"", {"a", ""}},
      {"three empty quoted arguments", "adsl.exe \"\" \"\" \"\"", {"", "", ""}},
      {"the name followed by spaces and tabs only", "adsl.exe \t \t", {}},
  };
  const std::string empty_phone_book = "# no entries, no connections\n";
  std::vector<WineDial> dials(rows.size());
  run_side_by_side(rows.size(), [&](std::size_t i) {
    dials[i] = run_exe("split-" + std::to_string(i), rows[i].command_line, empty_phone_book);
  });
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    const std::vector<std::string>& elements = rows[i].elements;
    if (elements.size() == 2) {
      EXPECT_EQ(visible(dials[i].run.output),
                visible(dial_way_output(elements[0], elements[1], false, false)))
          << "wine said: " << dials[i].run.error;
      EXPECT_EQ(dials[i].record, record::enum_connections(0) + record::enum_entries(0));
    } else {
      EXPECT_EQ(visible(dials[i].run.output),
                visible(usage_way_output(windows_path(dials[i].directory) + "\\adsl.exe")))
          << "wine said: " << dials[i].run.error;
      EXPECT_EQ(dials[i].record, "");
    }
    EXPECT_EQ(dials[i].run.exit_code, 0);
  }
}

}  // namespace
}  // namespace adsl::testing
