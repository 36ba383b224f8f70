// selector_index on any text: the number the rule gives (white space, a sign, decimal digits with
// 32-bit wrap-around), computed here in 64-bit arithmetic reduced modulo 2^32 at every digit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dialup/dial.h"

namespace {

std::int32_t model_index(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::strchr(" \t\n\v\f\r", text[i]) != nullptr) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = (value * 10 + static_cast<std::uint64_t>(text[i] - '0')) % (std::uint64_t{1} << 32);
  }
  if (negative) value = ((std::uint64_t{1} << 32) - value) % (std::uint64_t{1} << 32);
  // Two's complement: the upper half of the 32-bit range is negative.
  return value >= (std::uint64_t{1} << 31)
             ? static_cast<std::int32_t>(static_cast<std::int64_t>(value) - (std::int64_t{1} << 32))
             : static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(std::strlen(text.c_str()));
  const std::int32_t expected = model_index(text);
  const std::int32_t index = adsl::selector_index(text.c_str());
  if (index != expected) {
    std::fprintf(stderr, "selector_index gave %d, the rule %d\n", index, expected);
    std::abort();
  }
  return 0;
}
