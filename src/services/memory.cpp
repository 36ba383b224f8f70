#include "services/memory.h"

#include <cstdint>

#include "services/platform.h"

namespace adsl {
namespace {

// "分配 " and " 字节内存失败!", around the number of bytes asked for.
constexpr char kAllocationFailedStart[] = "\xb7\xd6\xc5\xe4 ";
constexpr char kAllocationFailedEnd[] = " \xd7\xd6\xbd\xda\xc4\xda\xb4\xe6\xca\xa7\xb0\xdc!";

// "运行时出错!\r\n\r\n"
constexpr char kBoxHeading[] = "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed!\r\n\r\n";
// "错误代码："
constexpr char kErrorCodeLabel[] = "\xb4\xed\xce\xf3\xb4\xfa\xc2\xeb\xa3\xba";
// "错误信息："
constexpr char kMessageLabel[] = "\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba";
// "错误"
constexpr char kBoxCaption[] = "\xb4\xed\xce\xf3";

// The box text is built without the heap, which has just failed. wsprintfA writes at most 1024
// bytes, so a box never held more; a longer message is cut at a whole character.
constexpr std::size_t kBoxCapacity = 1024;

// Bytes appended to a fixed buffer; anything beyond its room is dropped, never written past it.
class BoundedText {
 public:
  explicit BoundedText(char* bytes, std::size_t capacity) : bytes_(bytes), capacity_(capacity) {}

  void append(const char* text) {
    while (*text != '\0' && length_ + 1 < capacity_) bytes_[length_++] = *text++;
    bytes_[length_] = '\0';
  }

  // '-' first when negative; the magnitude in decimal digits.
  void append_decimal(std::uint64_t magnitude, bool negative) {
    char digits[24];
    char* start = digits + sizeof digits;
    *--start = '\0';
    do {
      *--start = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (negative) *--start = '-';
    append(start);
  }

  void append_decimal(std::int32_t value) {
    // Negated in 64 bits so that INT32_MIN has a magnitude too.
    std::int64_t wide = value;
    append_decimal(static_cast<std::uint64_t>(wide < 0 ? -wide : wide), wide < 0);
  }

  // Appends whole characters of `text` while `reserve` bytes (and the terminating zero) still fit
  // behind them, so a cut never splits a two-byte character.
  void append_cut(const char* text, std::size_t reserve, ProcessServices& process) {
    while (*text != '\0') {
      std::size_t size = process.is_lead_byte(static_cast<unsigned char>(*text)) && text[1] != '\0' ? 2 : 1;
      if (length_ + size + reserve + 1 > capacity_) break;
      for (std::size_t i = 0; i < size; ++i) bytes_[length_++] = *text++;
    }
    bytes_[length_] = '\0';
  }

 private:
  char* bytes_;
  std::size_t capacity_;
  std::size_t length_ = 0;
};

[[noreturn]] void report_allocation_failure(std::uint64_t magnitude, bool negative) {
  char message[64];
  BoundedText text(message, sizeof message);
  text.append(kAllocationFailedStart);
  text.append_decimal(magnitude, negative);
  text.append(kAllocationFailedEnd);
  report_fatal_error(message, 0);
}

}  // namespace

void* allocate_memory(std::int32_t size) {
  // A negative size cannot be met; it fails like any refused request, with the size as asked.
  void* block = size >= 0 ? platform().process->heap_alloc(static_cast<std::size_t>(size)) : nullptr;
  if (block == nullptr) {
    std::int64_t wide = size;
    report_allocation_failure(static_cast<std::uint64_t>(wide < 0 ? -wide : wide), wide < 0);
  }
  return block;
}

void* allocate_memory_of(std::size_t size) {
  // Never cut a size to 32 bits: the smaller block would be overrun by its user. The report names
  // the size that was really asked for.
  if (size > static_cast<std::size_t>(INT32_MAX)) report_allocation_failure(size, false);
  return allocate_memory(static_cast<std::int32_t>(size));
}

void release_memory(void* block) {
  if (block != nullptr) platform().process->heap_free(block);
}

void report_fatal_error(const char* message, std::int32_t error_code) {
  ProcessServices& process = *platform().process;
  char box[kBoxCapacity];
  BoundedText text(box, sizeof box);
  text.append(kBoxHeading);
  if (error_code != 0) {
    text.append(kErrorCodeLabel);
    text.append_decimal(error_code);
    text.append("\r\n\r\n");
  }
  if (message != nullptr && message[0] != '\0') {
    text.append(kMessageLabel);
    text.append_cut(message, 2, process);
    text.append("\r\n");
  }
  process.show_error_box(box, kBoxCaption);
  // Nothing is flushed and no exit-time clean-up runs: the process may be in no state to run them.
  process.exit_process(-1);
  // The call above ends the process; the compiler cannot see that through the virtual call.
  __builtin_trap();
}

}  // namespace adsl
