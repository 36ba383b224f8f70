#include "services/command_line.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "services/memory.h"

namespace adsl {

namespace {

// The arguments found so far, in order, each an owned block or null for an absent element. There is
// no limit on the number of arguments, so the list doubles whenever it is full; memory that cannot be
// had ends the process through allocate_memory.
class ElementList {
 public:
  ElementList() = default;
  ElementList(const ElementList&) = delete;
  ElementList& operator=(const ElementList&) = delete;
  ~ElementList() {
    for (std::size_t i = 0; i < count_; ++i) release_memory(items_[i]);
    release_memory(items_);
  }

  void add(Text element) {
    if (count_ == capacity_) grow();
    items_[count_++] = element.release_ownership();
  }

  /// Moves every element, in order, into one new array of one dimension; the list is empty afterwards.
  TextArray take_array() {
    TextArray array = TextArray::with_one_dimension(static_cast<std::uint32_t>(count_));
    for (std::size_t i = 0; i < count_; ++i) {
      array.set_element(i + 1, Text(items_[i]));
      items_[i] = nullptr;
    }
    count_ = 0;
    return array;
  }

 private:
  void grow() {
    std::size_t capacity = capacity_ == 0 ? 8 : capacity_ * 2;
    auto** items = static_cast<char**>(allocate_memory_of(capacity * sizeof(char*)));
    if (count_ > 0) std::memcpy(items, items_, count_ * sizeof(char*));
    release_memory(items_);
    items_ = items;
    capacity_ = capacity;
  }

  char** items_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
};

bool is_separator(unsigned char byte) {
  return byte >= 0x01 && byte <= 0x20;
}

// Past the program name: a quoted name ends at the next double quote (lead bytes mean nothing there)
// and one space after it is skipped; an unquoted name ends at the first space, never at a tab. Null
// when the command line ends inside the name.
const unsigned char* skip_program_name(const unsigned char* at) {
  if (*at == '"') {
    ++at;
    while (*at != '\0' && *at != '"') ++at;
    if (*at == '\0') return nullptr;
    ++at;
    if (*at == ' ') ++at;
    return at;
  }
  while (*at != '\0' && *at != ' ') ++at;
  if (*at == '\0') return nullptr;
  return at + 1;
}

}  // namespace

TextArray split_command_line(const char* command_line) {
  ElementList elements;
  const auto* at = reinterpret_cast<const unsigned char*>(command_line != nullptr ? command_line : "");
  at = skip_program_name(at);
  while (at != nullptr && *at != '\0') {
    if (is_separator(*at)) {
      ++at;
      continue;
    }
    bool quoted = *at == '"';
    if (quoted) ++at;
    const unsigned char* start = at;
    bool lead_byte_at_end = false;
    while (*at != '\0') {
      if (quoted ? *at == '"' : (is_separator(*at) || *at == '"')) break;
      if (*at >= 0x80) {
        // A lead byte binds whatever follows it; one with nothing after it is dropped and ends the scan.
        if (at[1] == '\0') {
          lead_byte_at_end = true;
          break;
        }
        at += 2;
        continue;
      }
      ++at;
    }
    elements.add(Text::copy_of(reinterpret_cast<const char*>(start), static_cast<std::size_t>(at - start)));
    if (lead_byte_at_end) break;
    // The closing quote is consumed; whatever follows it, a quote or a word, starts the next argument.
    if (quoted && *at == '"') ++at;
  }
  return elements.take_array();
}

void get_command_line_arguments(TextArray& arguments) {
  TextArray fresh = system_command_line_arguments();
  arguments.release();
  arguments = std::move(fresh);
}

}  // namespace adsl
