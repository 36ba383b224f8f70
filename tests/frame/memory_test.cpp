#include "services/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "child_process.h"
#include "frame_fakes.h"

namespace adsl::testing {
namespace {

// Code page 936 bytes of the box's pieces.
const std::string kHeading = "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed!\r\n\r\n";  // 运行时出错!\r\n\r\n
const std::string kCodeLabel = "\xb4\xed\xce\xf3\xb4\xfa\xc2\xeb\xa3\xba";         // 错误代码：
const std::string kMessageLabel = "\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba";      // 错误信息：
const std::string kCaption = "\xb4\xed\xce\xf3";                                   // 错误

// 分配 N 字节内存失败!
std::string allocation_failed(const std::string& size) {
  return "\xb7\xd6\xc5\xe4 " + size + " \xd7\xd6\xbd\xda\xc4\xda\xb4\xe6\xca\xa7\xb0\xdc!";
}

std::string box_for_failed_allocation(const std::string& size) {
  return kHeading + kMessageLabel + allocation_failed(size) + "\r\n";
}

// Runs what should end the process through the fake, and checks the exit code it ended with.
void expect_process_end(const std::function<void()>& action, std::int32_t exit_code) {
  try {
    action();
    ADD_FAILURE() << "returned instead of ending the process";
  } catch (const ProcessEnded& ended) {
    EXPECT_EQ(ended.exit_code, exit_code);
  }
}

struct FatalReportCase {
  const char* name;
  const char* message;
  std::int32_t error_code;
  std::string box;
};

const std::string kLongMessage(3000, 'm');
// 啊 (0xB0 0xA1) repeated: a cut that split one would leave a lone lead byte before the line end.
std::string double_byte_message() {
  std::string text = "x";
  for (int i = 0; i < 1500; ++i) text += "\xb0\xa1";
  return text;
}
const std::string kDoubleByteMessage = double_byte_message();

const FatalReportCase kFatalReportCases[] = {
    {"the failed allocation of 16 bytes",
     "\xb7\xd6\xc5\xe4 16 \xd7\xd6\xbd\xda\xc4\xda\xb4\xe6\xca\xa7\xb0\xdc!", 0,
     box_for_failed_allocation("16")},
    {"no message, no code: the heading alone", nullptr, 0, kHeading},
    {"an empty message is no message", "", 0, kHeading},
    {"a code and no message", "", 5, kHeading + kCodeLabel + "5\r\n\r\n"},
    {"a negative code and a message", "boom", -1,
     kHeading + kCodeLabel + "-1\r\n\r\n" + kMessageLabel + "boom\r\n"},
    {"the smallest code", "x", INT32_MIN,
     kHeading + kCodeLabel + "-2147483648\r\n\r\n" + kMessageLabel + "x\r\n"},
    {"a message too long for the box is cut, its line end kept", kLongMessage.c_str(), 0,
     kHeading + kMessageLabel + std::string(1023 - kHeading.size() - kMessageLabel.size() - 2, 'm') + "\r\n"},
    // Heading, label, "x", 497 whole characters and the line end take 1022 bytes: the one byte still free
    // would hold only half of the next character.
    {"a cut never splits a two-byte character", kDoubleByteMessage.c_str(), 0,
     kHeading + kMessageLabel + kDoubleByteMessage.substr(0, 1 + 2 * 497) + "\r\n"},
};

TEST(FatalReport, BoxTextCaptionAndExitCode) {
  for (const FatalReportCase& row : kFatalReportCases) {
    SCOPED_TRACE(row.name);
    FakeProcess process;
    process.lead_byte_rule = code_page_936_lead;
    ScopedPlatform world(&process);
    expect_process_end([&row] { report_fatal_error(row.message, row.error_code); }, -1);
    ASSERT_EQ(process.calls.size(), 2u);
    EXPECT_EQ(process.calls[0], "box " + kCaption + "|" + row.box);
    EXPECT_LE(row.box.size(), 1023u);
    EXPECT_EQ(process.calls[1], "exit -1");
  }
}

struct AllocationCase {
  const char* name;
  void* (*allocate)();
  std::vector<std::string> heap_requests;
  std::string reported_size;
};

const AllocationCase kAllocationCases[] = {
    {"refused request", [] { return allocate_memory(16); }, {"alloc 16"}, "16"},
    {"refused zero-byte request", [] { return allocate_memory(0); }, {"alloc 0"}, "0"},
    {"negative size never reaches the heap", [] { return allocate_memory(-5); }, {}, "-5"},
    {"smallest size", [] { return allocate_memory(INT32_MIN); }, {}, "-2147483648"},
    {"largest 32-bit size reaches the heap",
     [] { return allocate_memory(INT32_MAX); },
     {"alloc 2147483647"},
     "2147483647"},
    {"size_t size reaches the heap whole", [] { return allocate_memory_of(100); }, {"alloc 100"}, "100"},
    {"size_t of 2^31 is not taken as negative",
     [] { return allocate_memory_of(std::size_t{1} << 31); },
     {},
     "2147483648"},
    {"size_t of 2^32 - 1", [] { return allocate_memory_of(std::size_t{0xFFFFFFFFu}); }, {}, "4294967295"},
};

TEST(AllocateMemory, RefusedRequestEndsInTheFatalReportWithTheSizeAsked) {
  for (const AllocationCase& row : kAllocationCases) {
    SCOPED_TRACE(row.name);
    FakeProcess process;
    process.heap_fails = true;
    ScopedPlatform world(&process);
    expect_process_end([&row] { row.allocate(); }, -1);
    std::vector<std::string> expected = row.heap_requests;
    expected.push_back("box " + kCaption + "|" + box_for_failed_allocation(row.reported_size));
    expected.push_back("exit -1");
    EXPECT_EQ(process.calls, expected);
  }
}

TEST(AllocateMemory, SizeAbove32BitsIsNeverCut) {
  if (SIZE_MAX <= 0xFFFFFFFFu) GTEST_SKIP() << "size_t has 32 bits here";
  FakeProcess process;
  ScopedPlatform world(&process);
  // 2^32 + 16 cut to 32 bits would be a block of 16 bytes that succeeds.
  const std::size_t size = static_cast<std::size_t>((std::uint64_t{1} << 32) + 16);
  EXPECT_THROW(allocate_memory_of(size), ProcessEnded);
  ASSERT_EQ(process.calls.size(), 2u);
  EXPECT_EQ(process.calls[0], "box " + kCaption + "|" + box_for_failed_allocation("4294967312"));
}

TEST(AllocateMemory, BlocksComeFromTheHeapAndGoBack) {
  FakeProcess process;
  ScopedPlatform world(&process);
  void* block = allocate_memory(24);
  void* sized = allocate_memory_of(40);
  ASSERT_NE(block, nullptr);
  ASSERT_NE(sized, nullptr);
  EXPECT_EQ(process.live_blocks, 2u);
  release_memory(block);
  release_memory(sized);
  release_memory(nullptr);
  EXPECT_EQ(process.live_blocks, 0u);
  EXPECT_EQ(process.calls, (std::vector<std::string>{"alloc 24", "alloc 40"}));
}

// A clean-up that would tell if it ran.
void exit_time_marker() {
  write_marker(1, "[clean-up ran]");
}

TEST(AllocateMemory, OutOfMemoryForRealWritesTheBoxToStandardErrorAndExits255) {
  ChildOutcome outcome = run_in_child([] {
    std::atexit(exit_time_marker);
    static RefusingHeap heap;
    ScopedPlatform world(&heap);
    allocate_memory(16);
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exit_code, 255);
  EXPECT_FALSE(outcome.body_returned);
  EXPECT_EQ(outcome.err, box_for_failed_allocation("16"));
  EXPECT_EQ(outcome.out, "") << "an exit-time clean-up ran";
}

}  // namespace
}  // namespace adsl::testing
