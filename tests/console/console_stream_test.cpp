// The standard streams over a scripted console device: what reaches the handles, when, and what a
// read gives back.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fake_console.h"
#include "services/console.h"

namespace adsl {
namespace {

using testing::character_key;
using testing::ConsoleFixture;
using testing::pair_key;

constexpr auto output = StandardStream::output;
constexpr auto error = StandardStream::error;
constexpr auto input = StandardStream::input;

std::optional<std::string> as_optional(const Text& text) {
  return text.absent() ? std::nullopt : std::optional<std::string>(text.c_str());
}

class ConsoleOutput : public ::testing::Test, public ConsoleFixture {};

TEST_F(ConsoleOutput, ValuesBecomeTheirTextForms) {
  struct Row {
    const char* name;
    ConsoleValue value;
    std::string expected;
  };
  const Row rows[] = {
      {"4-byte minus five", ConsoleValue(std::int32_t{-5}), "-5"},
      {"4-byte extremes", ConsoleValue(std::int32_t{INT32_MIN}), "-2147483648"},
      {"1-byte 200 is unsigned", ConsoleValue(std::uint8_t{200}), "200"},
      {"2-byte minus", ConsoleValue(std::int16_t{-32768}), "-32768"},
      {"8-byte most negative", ConsoleValue(std::int64_t{INT64_MIN}), "-9223372036854775808"},
      {"8-byte large", ConsoleValue(std::int64_t{1234567890123}), "1234567890123"},
      {"true", ConsoleValue(true), "\xd5\xe6"},    // 真
      {"false", ConsoleValue(false), "\xbc\xd9"},  // 假
      {"8-byte float", ConsoleValue(2.5), "2.5"},
      {"8-byte float keeps 15 digits", ConsoleValue(0.1), "0.1"},
      {"4-byte float keeps 7 digits", ConsoleValue(0.1f), "0.1"},
      {"date-time", ConsoleValue(DateTime{2024, 5, 3, 7, 8, 9}), "2024-05-03 07:08:09"},
      {"other kind skipped", ConsoleValue(OtherValue{}), ""},
      {"absent text", ConsoleValue(static_cast<const char*>(nullptr)), ""},
      {"per cent signs pass", ConsoleValue("50%d %s %%"), "50%d %s %%"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    device.writes[1].clear();
    write_console_output({row.value});
    EXPECT_EQ(device.written(output), row.expected);
  }
}

TEST_F(ConsoleOutput, NothingIsAddedBetweenOrAfterValues) {
  Text absent;
  Text present = Text::copy_of("ef", 2);
  write_console_output({"ab", "", static_cast<const char*>(nullptr), absent, "cd", present, std::int32_t{7}});
  EXPECT_EQ(device.written(output), "abcdef7");
  write_console_output(1, {});
  write_console_output({});
  EXPECT_EQ(device.written(output), "abcdef7");
}

TEST_F(ConsoleOutput, DirectionTwoAloneSelectsStandardError) {
  const std::optional<std::int32_t> directions[] = {std::nullopt, 1, 0, 3, -1, 2};
  for (std::optional<std::int32_t> direction : directions) {
    SCOPED_TRACE(direction ? std::to_string(*direction) : "not given");
    device.writes[1].clear();
    device.writes[2].clear();
    if (direction)
      write_console_output(*direction, {"x"});
    else
      write_console_output({"x"});
    bool to_error = direction == 2;
    EXPECT_EQ(device.written(output), to_error ? "" : "x");
    EXPECT_EQ(device.written(error), to_error ? "x" : "");
  }
}

TEST_F(ConsoleOutput, EveryLineFeedBecomesCrLf) {
  device.kinds[1] = StreamKind::file;
  write_console_output({"a\r\n", "\n\n", "b\rc"});
  flush_console_streams();
  EXPECT_EQ(device.written(output), "a\r\r\n\r\n\r\nb\rc");
}

TEST_F(ConsoleOutput, CharacterDeviceGetsEachValueBeforeTheNext) {
  write_console_output({"ab", "", "c\n", std::int32_t{12}});
  EXPECT_EQ(device.writes[1], (std::vector<std::string>{"ab", "c\r\n", "12"}));
  // Nothing was left behind for a flush.
  flush_console_streams();
  EXPECT_EQ(device.writes[1].size(), 3u);
}

TEST_F(ConsoleOutput, LongTextOnCharacterDeviceGoesInBufferSizedWrites) {
  // 4095 bytes then a line feed: its CR fills the buffer, the LF starts the next write.
  std::string text(4095, 'x');
  text += "\nyz";
  write_console_output({text.c_str()});
  ASSERT_EQ(device.writes[1].size(), 2u);
  EXPECT_EQ(device.writes[1][0], std::string(4095, 'x') + "\r");
  EXPECT_EQ(device.writes[1][1], "\nyz");
}

TEST_F(ConsoleOutput, FileAndPipeBuffersWaitUntilFullOrFlushed) {
  for (StreamKind kind : {StreamKind::file, StreamKind::pipe}) {
    SCOPED_TRACE(kind == StreamKind::file ? "file" : "pipe");
    reset_console_streams();
    device.writes[1].clear();
    device.kinds[1] = kind;
    write_console_output({"abc", "def"});
    EXPECT_TRUE(device.writes[1].empty());
    write_console_output({std::string(4090, 'x').c_str()});
    // 4096 bytes filled the buffer; it is handed on when the next byte needs room.
    EXPECT_TRUE(device.writes[1].empty());
    write_console_output({"!"});
    ASSERT_EQ(device.writes[1].size(), 1u);
    EXPECT_EQ(device.writes[1][0], "abcdef" + std::string(4090, 'x'));
    flush_console_streams();
    ASSERT_EQ(device.writes[1].size(), 2u);
    EXPECT_EQ(device.writes[1][1], "!");
    flush_console_streams();
    EXPECT_EQ(device.writes[1].size(), 2u);
  }
}

TEST_F(ConsoleOutput, OutputAndErrorBufferSeparately) {
  device.kinds[1] = StreamKind::pipe;
  device.kinds[2] = StreamKind::file;
  write_console_output({"out"});
  write_console_output(2, {"err"});
  EXPECT_TRUE(device.writes[1].empty());
  EXPECT_TRUE(device.writes[2].empty());
  flush_console_streams();
  EXPECT_EQ(device.written(output), "out");
  EXPECT_EQ(device.written(error), "err");
}

TEST_F(ConsoleOutput, FailedWritesAreDroppedAndLaterTextsStillTried) {
  device.failing_writes = 1;
  write_console_output({"lost", "kept"});
  EXPECT_EQ(device.written(output), "kept");

  device.kinds[2] = StreamKind::file;
  write_console_output(2, {"lost"});
  device.failing_writes = 1;
  flush_console_streams();
  write_console_output(2, {"kept"});
  flush_console_streams();
  EXPECT_EQ(device.written(error), "kept");
}

TEST_F(ConsoleOutput, ResetDropsWhatWasBuffered) {
  device.kinds[1] = StreamKind::file;
  write_console_output({"stale"});
  reset_console_streams();
  flush_console_streams();
  EXPECT_TRUE(device.writes[1].empty());
}

class ConsoleInput : public ::testing::Test, public ConsoleFixture {
 protected:
  void script(std::initializer_list<std::string> reads) {
    for (const std::string& bytes : reads) device.reads.push_back({bytes, false});
  }
  std::vector<std::optional<std::string>> read_lines(int count) {
    std::vector<std::optional<std::string>> lines;
    for (int i = 0; i < count; ++i) lines.push_back(as_optional(read_console_input()));
    return lines;
  }
};

using Lines = std::vector<std::optional<std::string>>;
const std::optional<std::string> none = std::nullopt;

TEST_F(ConsoleInput, LinesLoseTheirTrailingControlBytesOnly) {
  struct Row {
    const char* name;
    std::vector<std::string> reads;
    Lines expected;
  };
  const Row rows[] = {
      {"a line", {"abc\r\n"}, {"abc", none}},
      {"Enter alone", {"\r\n", "x\n"}, {none, "x"}},
      {"trailing spaces stay", {"abc  \r\n"}, {"abc  "}},
      {"trailing tab goes", {"abc\t\r\n"}, {"abc"}},
      {"inner control bytes stay",
       {"a\tb\x01"
        "c\n"},
       {"a\tb\x01"
        "c"}},
      {"lone CR stays inside", {"a\rb\n"}, {"a\rb"}},
      {"line without LF at the end", {"last"}, {"last", none}},
      {"two lines from one read", {"one\r\ntwo\r\n"}, {"one", "two", none}},
      {"line over several reads", {"ab", "cd\n"}, {"abcd"}},
      {"CR LF split between reads", {"ab\r", "\ncd\r\n"}, {"ab", "cd"}},
      {"CR before the end of input", {"ab\r"}, {"ab", none}},
      {"zero byte ends the text", {std::string("ab\0cd\n", 6)}, {"ab"}},
      {"code page 936 bytes pass", {"\xd5\xcb\xba\xc5\r\n"}, {"\xd5\xcb\xba\xc5"}},
      {"empty input", {}, {none, none}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    reset_console_streams();
    device.reads.clear();
    for (const std::string& bytes : row.reads) device.reads.push_back({bytes, false});
    EXPECT_EQ(read_lines(static_cast<int>(row.expected.size())), row.expected);
  }
}

TEST_F(ConsoleInput, LongLineIsCutAndTheRestWaits) {
  std::string line;
  for (int i = 0; i < 3000; ++i) line += static_cast<char>('a' + i % 26);
  script({line + "\r\n"});
  Text first = read_console_input();
  Text second = read_console_input();
  EXPECT_EQ(std::string(first.c_str()), line.substr(0, 2048));
  EXPECT_EQ(std::string(second.c_str()), line.substr(2048));
  EXPECT_TRUE(read_console_input().absent());
}

TEST_F(ConsoleInput, CrLfCountsAsOneByteOfTheLine) {
  // 2047 bytes and CR LF fit the 2048-byte line as 2047 bytes and LF: nothing of that line is left over.
  script({std::string(2047, 'x') + "\r\n" + "next\r\n"});
  EXPECT_EQ(read_lines(2), (Lines{std::string(2047, 'x'), "next"}));
}

TEST_F(ConsoleInput, CtrlZEndsAFileOrPipeForGood) {
  for (StreamKind kind : {StreamKind::file, StreamKind::pipe}) {
    SCOPED_TRACE(kind == StreamKind::file ? "file" : "pipe");
    reset_console_streams();
    device.reads.clear();
    device.read_calls = 0;
    device.kinds[0] = kind;
    script(
        {"abc\x1a"
         "def\n",
         "more\n"});
    EXPECT_EQ(read_lines(3), (Lines{"abc", none, none}));
    EXPECT_EQ(device.read_calls, 1);
  }
}

TEST_F(ConsoleInput, CtrlZEndsOnlyTheReadOnACharacterDevice) {
  script(
      {"ab\x1a"
       "zz\n",
       "cd\n", "\x1a", "ef\n"});
  // The rest of the first read is dropped, the line goes on with the next read; a read that begins
  // with Ctrl+Z gives nothing, and the device is read again afterwards.
  EXPECT_EQ(read_lines(3), (Lines{"abcd", none, "ef"}));
}

TEST_F(ConsoleInput, FailedReadGivesWhatCameBefore) {
  device.reads.push_back({"abc", false});
  device.reads.push_back({"", true});
  device.reads.push_back({"", true});
  EXPECT_EQ(read_lines(2), (Lines{"abc", none}));
}

TEST_F(ConsoleInput, KeysAreReadUntilEnterWithoutStoringIt) {
  for (unsigned char byte : {'a', 'b'}) device.keys.push_back(character_key(byte));
  device.keys.push_back(pair_key(0xE0, 0x48));
  device.keys.push_back(character_key(' '));
  device.keys.push_back(character_key('\r'));
  device.keys.push_back(character_key('z'));
  device.keys.push_back(character_key('\r'));
  EXPECT_EQ(as_optional(read_console_input(false)), "ab\xe0\x48 ");
  EXPECT_EQ(as_optional(read_console_input(false)), "z");
}

TEST_F(ConsoleInput, KeyTextEndsAtAZeroByteAndLosesTrailingControls) {
  device.keys = {character_key('a'),  pair_key(0x00, 0x3B), character_key('b'),
                 character_key('\r'), character_key('c'),   character_key(0x03),
                 character_key('\r'), pair_key(0x00, 0x3C), character_key('\r')};
  EXPECT_EQ(as_optional(read_console_input(false)), "a");
  EXPECT_EQ(as_optional(read_console_input(false)), "c");
  EXPECT_EQ(as_optional(read_console_input(false)), none);
}

TEST_F(ConsoleInput, SecondByteOfAPairWaitsForTheNextKeyRead) {
  // 2048 keys and then a pair: the limit of 2049 bytes stops after the pair's first byte.
  for (int i = 0; i < 2048; ++i) device.keys.push_back(character_key('k'));
  device.keys.push_back(pair_key(0xE0, 0x4B));
  device.keys.push_back(character_key('\r'));
  Text first = read_console_input(false);
  EXPECT_EQ(std::string(first.c_str()), std::string(2048, 'k') + "\xe0");
  EXPECT_EQ(device.key_calls, 2049);
  EXPECT_EQ(as_optional(read_console_input(false)), "\x4b");
  EXPECT_EQ(device.key_calls, 2050);  // the Enter: the waiting byte came without a key read
}

TEST_F(ConsoleInput, UnreadableConsoleEndsTheKeyText) {
  device.keys = {character_key('a'), character_key('b')};
  EXPECT_EQ(as_optional(read_console_input(false)), "ab");
  EXPECT_EQ(as_optional(read_console_input(false)), none);
  close_console_input();
  EXPECT_EQ(device.close_key_calls, 1);
}

TEST_F(ConsoleInput, LineAndKeyReadsKeepTheirOwnState) {
  script({"line one\nline two\n"});
  device.keys = {character_key('k'), character_key('\r')};
  EXPECT_EQ(as_optional(read_console_input()), "line one");
  EXPECT_EQ(as_optional(read_console_input(false)), "k");
  EXPECT_EQ(as_optional(read_console_input(true)), "line two");
}

}  // namespace
}  // namespace adsl
