// Linked with the program's own operator new and delete: every allocation here, the C++ library's and
// gtest's included, goes through allocate_memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "child_process.h"
#include "frame_fakes.h"

namespace adsl::testing {
namespace {

// 分配 N 字节内存失败! in the box, as the posix error box writes it.
std::string box_for_failed_allocation(const std::string& size) {
  return "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed!\r\n\r\n"
         "\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba"
         "\xb7\xd6\xc5\xe4 " +
         size + " \xd7\xd6\xbd\xda\xc4\xda\xb4\xe6\xca\xa7\xb0\xdc!\r\n";
}

// The size that the refusing heap turns down.
constexpr std::size_t kRefused = 12345;

struct NewCase {
  const char* name;
  void (*allocate)();
  std::string reported_size;
};

volatile void* sink;

const NewCase kNewCases[] = {
    {"new[]", [] { sink = new char[kRefused]; }, "12345"},
    {"nothrow new ends the process instead of yielding null",
     [] { sink = new (std::nothrow) char[kRefused]; }, "12345"},
    {"a library string", [] { sink = std::string(kRefused - 1, 'x').data(); }, "12345"},
    {"a library vector", [] { sink = std::vector<char>(kRefused).data(); }, "12345"},
    {"a size above 32 bits is reported whole",
     [] { sink = ::operator new(static_cast<std::size_t>((std::uint64_t{1} << 32) + kRefused)); },
     "4294979641"},
};

TEST(OperatorNew, RefusedBlockEndsInTheFatalReport) {
  for (const NewCase& row : kNewCases) {
    SCOPED_TRACE(row.name);
    ChildOutcome outcome = run_in_child([&row] {
      static RefusingHeap& heap = *new RefusingHeap({kRefused});
      platform().process = &heap;
      row.allocate();
    });
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_code, 255);
    EXPECT_FALSE(outcome.body_returned);
    EXPECT_EQ(outcome.err, box_for_failed_allocation(row.reported_size));
  }
}

// Counts what reaches the heap, without allocating itself.
class CountingHeap : public RefusingHeap {
 public:
  CountingHeap() : RefusingHeap(std::vector<std::size_t>{}) {}
  void* heap_alloc(std::size_t size) override {
    ++allocations;
    last_size = size;
    return RefusingHeap::heap_alloc(size);
  }
  void heap_free(void* block) override {
    ++releases;
    RefusingHeap::heap_free(block);
  }
  int allocations = 0;
  int releases = 0;
  std::size_t last_size = 0;
};

struct alignas(64) OverAligned {
  char bytes[3];
};

TEST(OperatorNew, EveryFormTakesItsBlockFromTheHeap) {
  CountingHeap heap;
  int allocations[4] = {};
  int releases[4] = {};
  std::uintptr_t aligned_address = 0;
  {
    ScopedPlatform world(&heap);
    delete new int(1);
    allocations[0] = heap.allocations, releases[0] = heap.releases;
    delete[] new (std::nothrow) char[0];
    allocations[1] = heap.allocations, releases[1] = heap.releases;
    OverAligned* aligned = new OverAligned;
    aligned_address = reinterpret_cast<std::uintptr_t>(aligned);
    delete aligned;
    allocations[2] = heap.allocations, releases[2] = heap.releases;
    OverAligned* array = new OverAligned[3];
    aligned_address |= reinterpret_cast<std::uintptr_t>(array);
    delete[] array;
    allocations[3] = heap.allocations, releases[3] = heap.releases;
  }
  EXPECT_EQ(allocations[0], 1);
  EXPECT_EQ(releases[0], 1);
  EXPECT_EQ(allocations[1], 2) << "a zero-sized array still gets a block";
  EXPECT_EQ(releases[1], 2);
  EXPECT_EQ(allocations[2], 3);
  EXPECT_EQ(releases[2], 3);
  EXPECT_EQ(allocations[3], 4);
  EXPECT_EQ(releases[3], 4);
  EXPECT_EQ(aligned_address % 64, 0u);
}

}  // namespace
}  // namespace adsl::testing
