// The program's allocations all come from allocate_memory, so running out of memory anywhere ends in
// the fatal error report rather than an exception or a silent null: the nothrow forms never return
// null either. Linked into the program only; the tests keep the standard library's.
#include <cstddef>
#include <cstdint>
#include <new>

#include "services/memory.h"

namespace {

// A zero-byte request still gets a block of its own, as the standard asks.
void* allocate(std::size_t size) {
  return adsl::allocate_memory_of(size == 0 ? 1 : size);
}

// The heap promises only its own alignment, so an over-aligned block is cut from a larger one; the
// address of the larger block is kept just in front of the aligned one for the release.
void* allocate_aligned(std::size_t size, std::align_val_t alignment) {
  const std::size_t align = static_cast<std::size_t>(alignment);
  const std::size_t extra = align - 1 + sizeof(void*);
  // Beyond SIZE_MAX the request cannot be met; SIZE_MAX itself fails as too large, never wraps.
  void* block = adsl::allocate_memory_of(size > SIZE_MAX - extra ? SIZE_MAX : size + extra);
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block) + sizeof(void*);
  void** aligned = reinterpret_cast<void**>((start + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1));
  aligned[-1] = block;
  return aligned;
}

void release_aligned(void* aligned) {
  if (aligned != nullptr) adsl::release_memory(static_cast<void**>(aligned)[-1]);
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void operator delete(void* block) noexcept {
  adsl::release_memory(block);
}
void operator delete[](void* block) noexcept {
  adsl::release_memory(block);
}
void operator delete(void* block, std::size_t) noexcept {
  adsl::release_memory(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  adsl::release_memory(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  adsl::release_memory(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  adsl::release_memory(block);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocate_aligned(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate_aligned(size, alignment);
}
void operator delete(void* block, std::align_val_t) noexcept {
  release_aligned(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  release_aligned(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  release_aligned(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  release_aligned(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  release_aligned(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  release_aligned(block);
}
