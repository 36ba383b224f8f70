// The program's allocations all come from allocate_memory, so running out of memory anywhere ends in
// the fatal error report rather than an exception or a silent null.
#include <cstddef>
#include <new>

#include "services/memory.h"

void* operator new(std::size_t size) { return adsl::allocate_memory_of(size == 0 ? 1 : size); }
void* operator new[](std::size_t size) { return adsl::allocate_memory_of(size == 0 ? 1 : size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return adsl::allocate_memory_of(size == 0 ? 1 : size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return adsl::allocate_memory_of(size == 0 ? 1 : size); }
void operator delete(void* block) noexcept { adsl::release_memory(block); }
void operator delete[](void* block) noexcept { adsl::release_memory(block); }
void operator delete(void* block, std::size_t) noexcept { adsl::release_memory(block); }
void operator delete[](void* block, std::size_t) noexcept { adsl::release_memory(block); }
