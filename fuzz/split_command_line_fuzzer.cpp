// split_command_line against a model of the splitting rules written from them alone, on any byte
// string: the same number of elements, each absent or present alike and with the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "services/command_line.h"

namespace {

using Elements = std::vector<std::optional<std::string>>;

bool is_separator(unsigned char byte) {
  return byte >= 0x01 && byte <= 0x20;
}

// The rules, spelled out on a std::string that holds no zero byte.
Elements model_split(const std::string& line) {
  const std::size_t n = line.size();
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(line[i]); };
  std::size_t i = 0;
  if (n > 0 && at(0) == '"') {
    i = line.find('"', 1);
    if (i == std::string::npos) return {};
    ++i;
    if (i < n && at(i) == ' ') ++i;
  } else {
    i = line.find(' ');
    if (i == std::string::npos) return {};
    ++i;
  }
  Elements elements;
  while (i < n) {
    if (is_separator(at(i))) {
      ++i;
      continue;
    }
    const bool quoted = at(i) == '"';
    if (quoted) ++i;
    std::string argument;
    bool dangling_lead_byte = false;
    while (i < n) {
      const unsigned char byte = at(i);
      if (byte == '"' || (!quoted && is_separator(byte))) break;
      if (byte >= 0x80) {
        if (i + 1 == n) {
          dangling_lead_byte = true;
          break;
        }
        argument.append(line, i, 2);
        i += 2;
        continue;
      }
      argument.push_back(static_cast<char>(byte));
      ++i;
    }
    elements.push_back(argument.empty() ? std::nullopt : std::optional<std::string>(argument));
    if (dangling_lead_byte) break;
    if (quoted && i < n) ++i;  // the closing quote
  }
  return elements;
}

[[noreturn]] void fail(const char* what, std::size_t index) {
  std::fprintf(stderr, "split_command_line: %s (element %zu)\n", what, index);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The command line is a zero-terminated string: it ends at the first zero byte of the input.
  std::string line(reinterpret_cast<const char*>(data), size);
  line.resize(std::strlen(line.c_str()));

  const Elements expected = model_split(line);
  const adsl::TextArray array = adsl::split_command_line(line.c_str());

  if (!array.holds_array() || array.dimension_count() != 1) fail("not an array of one dimension", 0);
  if (array.dimension_size(1) != expected.size() || adsl::element_count(array) != expected.size())
    fail("element count differs from the rules", expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char* element = array.element(i + 1);
    if (!expected[i].has_value()) {
      if (element != nullptr) fail("element present where the rules make it absent", i + 1);
      continue;
    }
    if (element == nullptr) fail("element absent where the rules give bytes", i + 1);
    if (*expected[i] != element) fail("element bytes differ from the rules", i + 1);
  }
  return 0;
}
