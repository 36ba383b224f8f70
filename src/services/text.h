// Text and TextArray: the byte strings (ANSI code page) that the dialer and its services pass around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace adsl {

/// A zero-terminated byte string owned through allocate_memory, or absent (no storage), which reads
/// as empty. Releasing happens when the Text goes out of scope; moving hands the storage on.
class Text {
 public:
  Text() = default;
  /// Takes ownership of a block from allocate_memory holding a zero-terminated string.
  explicit Text(char* owned) : bytes_(owned) {}
  Text(Text&& other) noexcept : bytes_(other.bytes_) { other.bytes_ = nullptr; }
  Text& operator=(Text&& other) noexcept;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text() { reset(); }

  /// A new text of the `count` bytes at `bytes`; absent when `count` is 0.
  static Text copy_of(const char* bytes, std::size_t count);

  bool absent() const { return bytes_ == nullptr; }
  std::size_t length() const;
  /// The bytes, zero-terminated; "" for an absent text, so it can be handed on where empty is meant.
  const char* c_str() const { return bytes_ != nullptr ? bytes_ : ""; }
  char* data() { return bytes_; }
  /// Gives up ownership: the caller releases the returned block (null when absent).
  char* release_ownership();
  /// Releases the storage now; the text becomes absent.
  void reset();

 private:
  char* bytes_ = nullptr;
};

/// Joins texts in order, with nothing between them (null counts as empty). Never absent.
Text concat_texts(std::initializer_list<const char*> texts);

/// One allocated block: a 32-bit dimension count, one 32-bit size per dimension, then one text
/// reference per element (null for an absent element). Elements are numbered from 1.
class TextArray {
 public:
  /// Holds no array at all.
  TextArray() = default;
  TextArray(TextArray&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  TextArray& operator=(TextArray&& other) noexcept;
  TextArray(const TextArray&) = delete;
  TextArray& operator=(const TextArray&) = delete;
  ~TextArray() { release(); }

  /// A new array of one dimension of `size` elements, all absent.
  static TextArray with_one_dimension(std::uint32_t size);

  bool holds_array() const { return block_ != nullptr; }
  std::uint32_t dimension_count() const;
  std::uint32_t dimension_size(std::uint32_t dimension) const;  // dimension from 1
  /// Element `index` (from 1); null when absent.
  const char* element(std::size_t index) const;
  /// Stores `text` as element `index` (from 1), releasing what was there.
  void set_element(std::size_t index, Text text);
  /// Releases every present element in order, then the block; afterwards holds no array.
  void release();

 private:
  char** elements() const;
  void* block_ = nullptr;
};

/// 0 for an array without dimensions (or no array), otherwise the product of the dimension sizes.
std::size_t element_count(const TextArray& array);

}  // namespace adsl
