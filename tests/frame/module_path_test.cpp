#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame_fakes.h"
#include "services/frame.h"
#include "services/memory.h"

namespace adsl::testing {
namespace {

// "\xc4\x5c" is 腬 in code page 936: its trail byte is the backslash.
struct SplitCase {
  const char* name;
  char separator;
  bool code_page_936;
  std::string path;
  const char* run_directory;  // null: absent
  const char* executable_name;
};

const SplitCase kSplitCases[] = {
    {"directory and name", '\\', true, "C:\\Net\\adsl.exe", "C:\\Net", "adsl.exe"},
    {"drive root keeps the drive alone", '\\', true, "C:\\adsl.exe", "C:", "adsl.exe"},
    {"another file name, extension kept", '\\', true, "D:\\Tools\\Dial Up\\DIAL.EXE", "D:\\Tools\\Dial Up",
     "DIAL.EXE"},
    {"no separator: all name", '\\', true, "adsl.exe", nullptr, "adsl.exe"},
    {"trailing separator: no name", '\\', true, "C:\\Net\\", "C:\\Net", nullptr},
    {"empty path", '\\', true, "", nullptr, nullptr},
    {"trail byte 0x5C ends a directory name", '\\', true, "C:\\\xc4\x5c\\adsl.exe", "C:\\\xc4\x5c",
     "adsl.exe"},
    {"trail byte 0x5C is no separator", '\\', true,
     "C:\\\xc4\x5c"
     "adsl.exe",
     "C:",
     "\xc4\x5c"
     "adsl.exe"},
    {"without a lead-byte rule the same byte separates", '\\', false,
     "C:\\\xc4\x5c"
     "adsl.exe",
     "C:\\\xc4", "adsl.exe"},
    {"a lead byte at the very end stands alone", '\\', true, "C:\\Net\\adsl\xc4", "C:\\Net", "adsl\xc4"},
    {"posix path", '/', false, "/usr/local/bin/adsl", "/usr/local/bin", "adsl"},
    {"posix root", '/', false, "/adsl", nullptr, "adsl"},
    {"posix: a backslash is part of a name", '/', false, "/opt/a\\b/adsl", "/opt/a\\b", "adsl"},
};

void expect_text(const Text& text, const char* expected, const char* what) {
  SCOPED_TRACE(what);
  if (expected == nullptr) {
    EXPECT_TRUE(text.absent()) << "holds \"" << text.c_str() << '"';
  } else {
    ASSERT_FALSE(text.absent());
    EXPECT_EQ(std::string(text.c_str()), expected);
  }
}

TEST(ModulePath, SplitsAtTheLastSeparatorWalkingByCharacter) {
  for (const SplitCase& row : kSplitCases) {
    SCOPED_TRACE(row.name);
    FakeProcess process;
    process.separator = row.separator;
    process.lead_byte_rule = row.code_page_936 ? code_page_936_lead : nullptr;
    ScopedPlatform world(&process);
    Text run_directory;
    Text executable_name;
    // A block of exactly the path's size, so a walk past the terminating zero is caught.
    std::unique_ptr<char[]> exact(new char[row.path.size() + 1]);
    std::memcpy(exact.get(), row.path.c_str(), row.path.size() + 1);
    split_module_path(exact.get(), run_directory, executable_name);
    expect_text(run_directory, row.run_directory, "run directory");
    expect_text(executable_name, row.executable_name, "executable name");
  }
}

struct StartCase {
  const char* name;
  std::string path;
  std::vector<std::string> calls;  // what start-up asks of the process, heap requests left out
};

std::string long_directory(std::size_t length) {
  std::string directory = "C:";
  while (directory.size() + 12 < length) directory += "\\subdirectory";
  directory.resize(length, 'x');
  return directory;
}

const std::string kDirectory259 = long_directory(259 - 9);  // + "\adsl.exe": 259 bytes, fits 260
const std::string kDirectory260 = long_directory(260 - 9);  // 260 bytes: no room for the zero
const std::string kDirectory700 = long_directory(700 - 9);

const StartCase kStartCases[] = {
    {"short path", "C:\\Net\\adsl.exe", {"error boxes", "module path 260", "chdir C:\\Net"}},
    {"drive root", "C:\\adsl.exe", {"error boxes", "module path 260", "chdir C:"}},
    {"no separator: the current directory is asked for an empty one",
     "adsl.exe",
     {"error boxes", "module path 260", "chdir "}},
    {"259 bytes fit the first buffer",
     kDirectory259 + "\\adsl.exe",
     {"error boxes", "module path 260", "chdir " + kDirectory259}},
    {"260 bytes are read again into a larger buffer",
     kDirectory260 + "\\adsl.exe",
     {"error boxes", "module path 260", "module path 520", "chdir " + kDirectory260}},
    {"700 bytes grow the buffer twice",
     kDirectory700 + "\\adsl.exe",
     {"error boxes", "module path 260", "module path 520", "module path 1040", "chdir " + kDirectory700}},
};

std::vector<std::string> without_heap_requests(const std::vector<std::string>& calls) {
  std::vector<std::string> kept;
  for (const std::string& call : calls)
    if (call.rfind("alloc ", 0) != 0) kept.push_back(call);
  return kept;
}

std::string before_last_backslash(const std::string& path) {
  return path.substr(0, path.rfind('\\'));
}
std::string after_last_backslash(const std::string& path) {
  return path.substr(path.rfind('\\') + 1);
}

// Start-up with an empty module path stores nothing and gives back what an earlier start-up stored,
// to the heap of the process in force.
void forget_stored_location(FakeProcess& process) {
  process.path.clear();
  ScopedPlatform world(&process);
  start_process_frame();
}

void forget_stored_location() {
  FakeProcess scratch;
  forget_stored_location(scratch);
}

TEST(StartUp, ReadsTheWholeModulePathSplitsItAndMakesItsDirectoryCurrent) {
  forget_stored_location();
  for (const StartCase& row : kStartCases) {
    SCOPED_TRACE(row.name);
    FakeProcess process;
    process.path = row.path;
    process.lead_byte_rule = code_page_936_lead;
    ScopedPlatform world(&process);
    start_process_frame();
    EXPECT_EQ(without_heap_requests(process.calls), row.calls);

    Text run_directory = get_run_directory();
    Text executable_name = get_executable_name();
    const bool has_separator = row.path.find('\\') != std::string::npos;
    expect_text(run_directory, has_separator ? before_last_backslash(row.path).c_str() : nullptr,
                "run directory");
    expect_text(executable_name, has_separator ? after_last_backslash(row.path).c_str() : row.path.c_str(),
                "executable name");
    run_directory.reset();
    executable_name.reset();
    // Only the stored texts are left; the buffers of the reading are all given back.
    EXPECT_EQ(process.live_blocks, has_separator ? 2u : 1u);
    forget_stored_location(process);
    EXPECT_EQ(process.live_blocks, 0u);
  }
}

TEST(StartUp, EveryCallHandsOutANewCopyOfWhatStartUpStored) {
  forget_stored_location();
  FakeProcess process;
  process.path = "C:\\Net\\adsl.exe";
  ScopedPlatform world(&process);
  start_process_frame();
  // What happens after start-up does not change the answers.
  process.path = "E:\\Other\\other.exe";

  Text first = get_run_directory();
  Text second = get_run_directory();
  ASSERT_FALSE(first.absent());
  ASSERT_FALSE(second.absent());
  EXPECT_NE(first.c_str(), second.c_str());
  first.data()[0] = 'X';  // the copy is the caller's to change
  first.reset();
  Text third = get_run_directory();
  EXPECT_STREQ(second.c_str(), "C:\\Net");
  EXPECT_STREQ(third.c_str(), "C:\\Net");

  Text name_first = get_executable_name();
  Text name_second = get_executable_name();
  EXPECT_NE(name_first.c_str(), name_second.c_str());
  EXPECT_STREQ(name_first.c_str(), "adsl.exe");
  EXPECT_STREQ(name_second.c_str(), "adsl.exe");
}

TEST(StartUp, EmptyRunDirectoryIsAbsentAndAllocatesNothing) {
  forget_stored_location();
  FakeProcess process;
  process.path = "adsl.exe";
  ScopedPlatform world(&process);
  start_process_frame();
  process.calls.clear();
  EXPECT_TRUE(get_run_directory().absent());
  EXPECT_TRUE(process.calls.empty()) << process.calls.front();
}

}  // namespace
}  // namespace adsl::testing
