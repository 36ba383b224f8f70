// quote_pppd_word on any bytes and any capacity, into a buffer of exactly that capacity, so a byte
// written past it is caught. A word that fits must read back, by pppd's rules for a double-quoted
// word (a backslash takes the next byte as it is), as exactly the bytes given; one that does not fit
// must be refused, and the buffer must still hold a terminated string.
//
// Input: bytes 0-1 the capacity (little-endian, up to 1023), then the word up to the first zero byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "dialup/ras_pppd.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "quote_pppd_word: %s\n", what);
  std::abort();
}

// Reads one double-quoted word as pppd does. Only \\ and \" may appear as escapes: every other
// escape means something else to pppd (\n, \x41, octal), so a quoting that needs one is wrong.
bool read_quoted_word(const char* word, std::string& bytes) {
  if (*word++ != '"') return false;
  for (; *word != '"'; ++word) {
    if (*word == '\0') return false;
    if (*word == '\\') {
      ++word;
      if (*word != '\\' && *word != '"') return false;
    }
    bytes.push_back(*word);
  }
  return word[1] == '\0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return -1;
  const std::size_t capacity = (data[0] | (data[1] << 8)) & 0x3ff;
  std::string word(reinterpret_cast<const char*>(data + 2), size - 2);
  word.resize(std::strlen(word.c_str()));

  std::size_t needed = word.size() + 3;  // two quotes and the terminating zero
  for (char byte : word) needed += byte == '\\' || byte == '"' ? 1 : 0;

  // Exactly `capacity` bytes, none of them zero, so an unterminated result shows too.
  std::unique_ptr<char[]> out(new char[capacity]);
  std::memset(out.get(), 'x', capacity);
  const bool fitted = adsl::quote_pppd_word(word.c_str(), out.get(), capacity);
  if (fitted != (needed <= capacity))
    fail(fitted ? "claims a fit beyond the capacity" : "refused a word that fits");
  if (capacity == 0) return 0;
  if (std::memchr(out.get(), '\0', capacity) == nullptr) fail("left the buffer unterminated");
  if (!fitted) return 0;
  if (std::strlen(out.get()) + 1 != needed) fail("wrote another length than the quoting needs");
  std::string read_back;
  if (!read_quoted_word(out.get(), read_back)) fail("wrote something that is not one quoted word");
  if (read_back != word) fail("pppd would read other bytes back");
  return 0;
}
