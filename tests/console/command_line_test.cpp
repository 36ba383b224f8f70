#include "services/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "services/text.h"

namespace adsl {
namespace {

using Elements = std::vector<std::optional<std::string>>;

Elements elements_of(const TextArray& array) {
  Elements elements;
  for (std::size_t i = 1; i <= element_count(array); ++i) {
    const char* element = array.element(i);
    elements.push_back(element != nullptr ? std::optional<std::string>(element) : std::nullopt);
  }
  return elements;
}

// Splits a copy of exactly the given bytes (and its zero) in a block of its own, so a read past the
// end of the command line is caught by the address sanitizer.
TextArray split_exact(const std::string& bytes) {
  std::vector<char> line(bytes.begin(), bytes.end());
  line.push_back('\0');
  return split_command_line(line.data());
}

struct SplitCase {
  const char* name;
  std::string command_line;
  Elements expected;
};

const std::optional<std::string> absent = std::nullopt;

TEST(CommandLine, SplitsByTheDialersRules) {
  const SplitCase cases[] = {
      {"name then two words", "adsl acc pwd", {"acc", "pwd"}},
      {"quoted name with spaces", "\"C:\\Program Files\\adsl.exe\" acc pwd", {"acc", "pwd"}},
      {"argument right after the quoted name", "\"C:\\a b\\adsl.exe\"acc", {"acc"}},
      {"tab does not end an unquoted name", "adsl\tacc pwd", {"pwd"}},
      {"leading space: empty name", " acc pwd", {"acc", "pwd"}},
      {"empty command line", "", {}},
      {"name alone", "adsl", {}},
      {"name and blanks only", "adsl  \t \t ", {}},
      {"runs of blanks add nothing", "adsl  \t acc \t\t pwd \t ", {"acc", "pwd"}},
      {"quoted keeps its space", "adsl \"x y\"", {"x y"}},
      {"closing quote then a word", "adsl \"x y\"z", {"x y", "z"}},
      {"word then a quote", "adsl x\"y z\"", {"x", "y z"}},
      {"two quotes alone", "adsl \"\"", {absent}},
      {"quote as the last byte", "adsl a \"", {"a", absent}},
      {"quote never closed", "adsl \"abc def\tghi", {"abc def\tghi"}},
      {"backslashes escape nothing", "adsl \\\"x y\\\"", {"\\", "x y\\"}},
      {"lead byte binds a space", "adsl \x81 y", {"\x81 y"}},
      {"lead byte binds a quote", "adsl \x81\"y", {"\x81\"y"}},
      {"lead byte at the end after ab", "adsl ab\x81", {"ab"}},
      // Beyond the obvious ones: the corners of each rule.
      {"lead byte at the end alone", "adsl \x81", {absent}},
      {"lead byte at the end inside quotes", "adsl \"ab\x81", {"ab"}},
      {"lead byte at the end ends the scan", "adsl a\x81", {"a"}},
      {"lead byte binds a control byte", "adsl \x81\x01z q", {"\x81\x01z", "q"}},
      {"0x80 leads a pair too", "adsl \x80 z", {"\x80 z"}},
      {"pairs then a lone lead at the end", "adsl \xff\xff\xff", {"\xff\xff"}},
      {"code page 936 text",
       "adsl \xd5\xcb\xba\xc5 \xc3\xdc\xc2\xeb",
       {"\xd5\xcb\xba\xc5", "\xc3\xdc\xc2\xeb"}},
      {"quoted name never closed", "\"adsl acc pwd", {}},
      {"quoted name then end", "\"adsl\"", {}},
      {"quoted name then a tab", "\"adsl\"\tacc", {"acc"}},
      {"quoted name then two spaces", "\"adsl\"  acc", {"acc"}},
      {"quoted name then a quote", "\"adsl\"\"a b\"", {"a b"}},
      {"no lead bytes inside a quoted name", "\"a\x81\"b\" c", {"b", " c"}},
      {"a quote does not end an unquoted name", "ad\"sl acc", {"acc"}},
      {"every byte up to 0x20 separates",
       "adsl a\x01"
       "b\x1f"
       "c\rd\ne",
       {"a", "b", "c", "d", "e"}},
      {"0x7F is no separator",
       "adsl a\x7f"
       "b",
       {"a\x7f"
        "b"}},
      {"empty quoted between words", "adsl a\"\"b", {"a", absent, "b"}},
      {"quoted arguments back to back", "adsl \"a\"\"b\"", {"a", "b"}},
  };
  for (const SplitCase& row : cases) {
    SCOPED_TRACE(row.name);
    TextArray array = split_exact(row.command_line);
    EXPECT_EQ(array.dimension_count(), 1u);
    EXPECT_EQ(array.dimension_size(1), row.expected.size());
    EXPECT_EQ(elements_of(array), row.expected);
  }
}

TEST(CommandLine, NullCommandLineHasNoArguments) {
  TextArray array = split_command_line(nullptr);
  EXPECT_EQ(array.dimension_count(), 1u);
  EXPECT_EQ(element_count(array), 0u);
}

TEST(CommandLine, ManyArgumentsAreAllKept) {
  std::string line = "adsl";
  for (int i = 0; i < 1000; ++i) line += " a" + std::to_string(i);
  TextArray array = split_exact(line);
  ASSERT_EQ(element_count(array), 1000u);
  EXPECT_STREQ(array.element(1), "a0");
  EXPECT_STREQ(array.element(1000), "a999");
}

// Every command line of up to six bytes over the bytes that steer the splitting: none may crash or read
// past its end, and every element is a piece of the command line, found in order.
TEST(CommandLine, AnyByteStringSplitsWithinItsBytes) {
  const char alphabet[] = {'a', ' ', '\t', '"', '\x81', '\\', '\x01'};
  constexpr int symbols = sizeof alphabet;
  for (int length = 0; length <= 6; ++length) {
    int combinations = 1;
    for (int i = 0; i < length; ++i) combinations *= symbols;
    for (int code = 0; code < combinations; ++code) {
      std::string line;
      for (int i = 0, rest = code; i < length; ++i, rest /= symbols) line += alphabet[rest % symbols];
      TextArray array = split_exact(line);
      std::size_t from = 0;
      for (std::size_t i = 1; i <= element_count(array); ++i) {
        if (array.element(i) == nullptr) continue;
        std::size_t at = line.find(array.element(i), from);
        ASSERT_NE(at, std::string::npos) << "element " << i << " of [" << line << "]";
        from = at + std::strlen(array.element(i));
      }
    }
  }
}

// The process arguments here are the shell's: remember_process_arguments takes them from argv.
class ProcessArguments : public ::testing::Test {
 protected:
  void TearDown() override { remember_process_arguments(0, nullptr); }
};

TEST_F(ProcessArguments, ReplaceTheHeldArrayAndRepeatEqually) {
  char program[] = "adsl";
  char account[] = "acc";
  char empty[] = "";
  char password[] = "pwd";
  char* argv[] = {program, account, empty, password, nullptr};
  remember_process_arguments(4, argv);

  // The dialer's own starting point: one dimension of two absent elements.
  TextArray arguments = TextArray::with_one_dimension(2);
  get_command_line_arguments(arguments);
  EXPECT_EQ(elements_of(arguments), (Elements{"acc", absent, "pwd"}));

  // A held array with present elements is released (the sanitizer sees a leak or a double release).
  arguments.set_element(1, Text::copy_of("held", 4));
  get_command_line_arguments(arguments);
  EXPECT_EQ(elements_of(arguments), (Elements{"acc", absent, "pwd"}));
}

TEST_F(ProcessArguments, ArgumentsAfterTheNameAreWipedFromArgv) {
  char program[] = "adsl";
  char account[] = "acc";
  char password[] = "secret";
  char* argv[] = {program, account, password, nullptr};
  remember_process_arguments(3, argv);
  EXPECT_STREQ(argv[0], "adsl");
  EXPECT_EQ(std::string(account, sizeof account), std::string(sizeof account, '\0'));
  EXPECT_EQ(std::string(password, sizeof password), std::string(sizeof password, '\0'));
  TextArray arguments;
  get_command_line_arguments(arguments);
  EXPECT_EQ(elements_of(arguments), (Elements{"acc", "secret"}));
}

TEST_F(ProcessArguments, NoneRememberedGivesAnEmptyArray) {
  TextArray arguments = TextArray::with_one_dimension(2);
  get_command_line_arguments(arguments);
  EXPECT_EQ(arguments.dimension_count(), 1u);
  EXPECT_EQ(element_count(arguments), 0u);
}

}  // namespace
}  // namespace adsl
