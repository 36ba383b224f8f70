#include "services/memory.h"

#include <cstdint>
#include <cstdio>

#include "services/platform.h"

namespace adsl {

void* allocate_memory(std::int32_t size) {
  // A negative size cannot be met; it takes the failure path like any refused request.
  void* block = size >= 0 ? platform().process->heap_alloc(static_cast<std::size_t>(size)) : nullptr;
  if (block == nullptr) {
    // wsprintfA's "%d" on the requested size; 64 bytes hold the message with any 32-bit number.
    char message[64];
    std::snprintf(message, sizeof message, "分配 %d 字节内存失败!", static_cast<int>(size));
    report_fatal_error(message, 0);
  }
  return block;
}

void* allocate_memory_of(std::size_t size) {
  // Never cut a size to 32 bits: the smaller block would be overrun by its user.
  if (size > static_cast<std::size_t>(INT32_MAX)) {
    char message[64];
    std::snprintf(message, sizeof message, "分配 %zu 字节内存失败!", size);
    report_fatal_error(message, 0);
  }
  return allocate_memory(static_cast<std::int32_t>(size));
}

void release_memory(void* block) {
  if (block != nullptr) platform().process->heap_free(block);
}

}  // namespace adsl
