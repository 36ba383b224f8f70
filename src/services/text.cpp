#include "services/text.h"

#include <cstring>

#include "services/memory.h"

namespace adsl {

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    reset();
    bytes_ = other.bytes_;
    other.bytes_ = nullptr;
  }
  return *this;
}

Text Text::copy_of(const char* bytes, std::size_t count) {
  if (count == 0) return Text();
  auto* block = static_cast<char*>(allocate_memory_of(count + 1));
  std::memcpy(block, bytes, count);
  block[count] = '\0';
  return Text(block);
}

std::size_t Text::length() const { return bytes_ != nullptr ? std::strlen(bytes_) : 0; }

char* Text::release_ownership() {
  char* bytes = bytes_;
  bytes_ = nullptr;
  return bytes;
}

void Text::reset() {
  release_memory(bytes_);
  bytes_ = nullptr;
}

Text concat_texts(std::initializer_list<const char*> texts) {
  // Measure everything first so the result is one block of exactly the summed length.
  std::size_t total = 0;
  for (const char* text : texts) total += text != nullptr ? std::strlen(text) : 0;
  auto* block = static_cast<char*>(allocate_memory_of(total + 1));
  char* end = block;
  for (const char* text : texts) {
    if (text == nullptr) continue;
    std::size_t length = std::strlen(text);
    std::memcpy(end, text, length);
    end += length;
  }
  *end = '\0';
  return Text(block);
}

namespace {

// The element references follow the header; the header is padded so they stay aligned.
std::size_t header_size(std::uint32_t dimensions) {
  std::size_t bytes = sizeof(std::uint32_t) * (1 + static_cast<std::size_t>(dimensions));
  return (bytes + alignof(char*) - 1) / alignof(char*) * alignof(char*);
}

}  // namespace

TextArray& TextArray::operator=(TextArray&& other) noexcept {
  if (this != &other) {
    release();
    block_ = other.block_;
    other.block_ = nullptr;
  }
  return *this;
}

TextArray TextArray::with_one_dimension(std::uint32_t size) {
  std::size_t bytes = header_size(1) + sizeof(char*) * static_cast<std::size_t>(size);
  TextArray array;
  array.block_ = allocate_memory_of(bytes);
  auto* header = static_cast<std::uint32_t*>(array.block_);
  header[0] = 1;
  header[1] = size;
  char** elements = array.elements();
  for (std::uint32_t i = 0; i < size; ++i) elements[i] = nullptr;
  return array;
}

std::uint32_t TextArray::dimension_count() const {
  return block_ != nullptr ? static_cast<const std::uint32_t*>(block_)[0] : 0;
}

std::uint32_t TextArray::dimension_size(std::uint32_t dimension) const {
  if (dimension == 0 || dimension > dimension_count()) return 0;
  return static_cast<const std::uint32_t*>(block_)[dimension];
}

char** TextArray::elements() const {
  return reinterpret_cast<char**>(static_cast<char*>(block_) + header_size(dimension_count()));
}

const char* TextArray::element(std::size_t index) const {
  if (index == 0 || index > element_count(*this)) return nullptr;
  return elements()[index - 1];
}

void TextArray::set_element(std::size_t index, Text text) {
  if (index == 0 || index > element_count(*this)) return;
  char*& slot = elements()[index - 1];
  release_memory(slot);
  slot = text.release_ownership();
}

void TextArray::release() {
  if (block_ == nullptr) return;
  std::size_t count = element_count(*this);
  char** items = elements();
  for (std::size_t i = 0; i < count; ++i) release_memory(items[i]);
  release_memory(block_);
  block_ = nullptr;
}

std::size_t element_count(const TextArray& array) {
  std::uint32_t dimensions = array.dimension_count();
  if (dimensions == 0) return 0;
  std::size_t count = 1;
  for (std::uint32_t d = 1; d <= dimensions; ++d) count *= array.dimension_size(d);
  return count;
}

}  // namespace adsl
