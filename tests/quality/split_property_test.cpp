// Properties of command-line splitting over many generated command lines: arguments that hold no
// double quote and no byte of 0x80 or above, joined with spaces after any program name, split back
// into themselves. Each test uses its own fixed seed, so a failure is reproduced by running it again.
#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "services/command_line.h"

namespace adsl {
namespace {

constexpr int kCommandLines = 20000;

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  std::size_t below(std::size_t bound) {
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_);
  }
  bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
  char byte_in(int low, int high) {
    return static_cast<char>(std::uniform_int_distribution<int>(low, high)(random_));
  }

  /// A byte of an argument: 0x01 to 0x7f but no double quote; separators only when `separators`.
  char argument_byte(bool separators) {
    for (;;) {
      const char byte = byte_in(separators ? 0x01 : 0x21, 0x7f);
      if (byte != '"') return byte;
    }
  }

  std::string argument(std::size_t min_length, bool separators) {
    std::string text(min_length + below(12), '\0');
    for (char& byte : text) byte = argument_byte(separators);
    return text;
  }

  /// A program name as it starts a command line, with the one space that ends it: unquoted (any bytes
  /// but space and zero, tabs, quotes after the first byte and lead bytes included) or quoted (any
  /// bytes but the quote, spaces included).
  std::string program_name() {
    std::string name;
    const std::size_t length = below(20);
    if (chance(50)) {
      for (std::size_t i = 0; i < length; ++i) {
        char byte = byte_in(0x01, 0xff);
        if (byte == ' ' || (i == 0 && byte == '"')) byte = 'x';
        name.push_back(byte);
      }
      return name + " ";
    }
    for (std::size_t i = 0; i < length; ++i) {
      char byte = byte_in(0x01, 0xff);
      if (byte == '"') byte = ' ';
      name.push_back(byte);
    }
    return "\"" + name + "\" ";
  }

 private:
  std::mt19937 random_;
};

/// The elements of the split, each as its bytes, an absent one as "<absent>".
std::vector<std::string> split(const std::string& command_line) {
  const TextArray array = split_command_line(command_line.c_str());
  EXPECT_EQ(array.dimension_count(), 1u) << command_line;
  std::vector<std::string> elements;
  for (std::size_t i = 1; i <= element_count(array); ++i) {
    const char* element = array.element(i);
    elements.emplace_back(element != nullptr ? element : "<absent>");
  }
  return elements;
}

TEST(SplitProperty, WordsJoinedWithSpacesSplitBack) {
  Generator generate(20240611);
  for (int n = 0; n < kCommandLines; ++n) {
    std::vector<std::string> arguments(generate.below(8));
    std::string command_line = generate.program_name();
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      arguments[i] = generate.argument(1, false);
      command_line += (i > 0 ? " " : "") + arguments[i];
    }
    ASSERT_EQ(split(command_line), arguments) << "command line: " << command_line;
  }
}

// Quoting carries separators and empty arguments (absent elements); unquoted words may stand beside.
TEST(SplitProperty, QuotedArgumentsJoinedWithSpacesSplitBack) {
  Generator generate(77001);
  for (int n = 0; n < kCommandLines; ++n) {
    std::vector<std::string> expected;
    std::string command_line = generate.program_name();
    const std::size_t count = generate.below(8);
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) command_line += " ";
      if (generate.chance(30)) {
        const std::string word = generate.argument(1, false);
        command_line += word;
        expected.push_back(word);
        continue;
      }
      const std::string argument = generate.argument(0, true);
      command_line += "\"" + argument + "\"";
      expected.push_back(argument.empty() ? "<absent>" : argument);
    }
    ASSERT_EQ(split(command_line), expected) << "command line: " << command_line;
  }
}

// Any run of separators between words, and before and after them, splits the same as one space.
TEST(SplitProperty, RunsOfSeparatorsSplitLikeOneSpace) {
  Generator generate(5150);
  for (int n = 0; n < kCommandLines; ++n) {
    std::vector<std::string> arguments(1 + generate.below(8));
    std::string command_line = generate.program_name();
    auto separators = [&](std::size_t least) {
      std::string run(least + generate.below(4), '\0');
      for (char& byte : run) byte = generate.byte_in(0x01, 0x20);
      return run;
    };
    command_line += separators(0);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      arguments[i] = generate.argument(1, false);
      command_line += (i > 0 ? separators(1) : "") + arguments[i];
    }
    command_line += separators(0);
    ASSERT_EQ(split(command_line), arguments) << "command line: " << command_line;
  }
}

}  // namespace
}  // namespace adsl
