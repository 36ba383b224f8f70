// Memory of the product: every block comes from the process heap through these two calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace adsl {

/// A block of `size` uninitialised bytes from the process heap. Never returns null: when the heap
/// cannot supply it, the process ends through report_fatal_error ("分配 N 字节内存失败!", exit code -1).
void* allocate_memory(std::int32_t size);

/// Like allocate_memory for sizes computed as size_t; a size beyond the signed 32-bit range is a
/// failed allocation, reported with the whole size asked for, never a cut one.
void* allocate_memory_of(std::size_t size);

/// Gives a block back to the process heap; a null block is ignored.
void release_memory(void* block);

/// Shows the fatal error box (caption "错误") and ends the process with exit code -1, running no
/// exit-time clean-up and flushing nothing. `message` may be null or empty; `error_code` 0 shows no
/// error-code line. Uses no heap; a box text over 1023 bytes is cut at a whole character of the message.
[[noreturn]] void report_fatal_error(const char* message, std::int32_t error_code);

}  // namespace adsl
