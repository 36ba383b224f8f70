// The standard streams over the platform's console device: text-mode line ends, 4096-byte buffers,
// and the buffering rules that decide when bytes reach the handles. Written once for every platform.
#include "services/console.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "services/platform.h"

namespace adsl {

namespace {

constexpr std::size_t stream_buffer_size = 4096;
// fgets into a 2049-byte buffer: 2048 bytes of line and the terminating zero.
constexpr std::size_t line_limit = 2048;
constexpr std::size_t key_limit = 2049;
constexpr std::size_t number_buffer_size = 100;

constexpr unsigned char carriage_return = 0x0D;
constexpr unsigned char line_feed = 0x0A;
constexpr unsigned char end_of_file_mark = 0x1A;  // Ctrl+Z

struct OutputStream {
  StandardStream handle;
  // For a file or a pipe this holds the text not yet handed on; for a character device it only
  // carries one text's translated bytes on their way to the handle.
  char buffer[stream_buffer_size];
  std::size_t used;
  bool failed;
};

struct InputStream {
  // Translated bytes of the last read; [next, end) is what the next line read gets first.
  char buffer[stream_buffer_size];
  std::size_t next;
  std::size_t end;
  // A CR that closed a read: only the next read tells whether it was the first half of CR LF.
  bool carriage_return_waiting;
  // A Ctrl+Z from a file or a pipe ends the input for good.
  bool ended;
  bool failed;
};

// The second byte of a key without a character, handed out by the next key read.
struct KeyState {
  bool waiting;
  unsigned char byte;
};

OutputStream output_stream{StandardStream::output, {}, 0, false};
OutputStream error_stream{StandardStream::error, {}, 0, false};
InputStream input_stream{};
KeyState key_state{};

ConsoleDevice& device() {
  return *platform().console;
}

// A failed write is remembered and its bytes are dropped, so later texts still get their own try.
void hand_on(OutputStream& stream) {
  if (stream.used == 0) return;
  if (!device().write(stream.handle, stream.buffer, stream.used)) stream.failed = true;
  stream.used = 0;
}

void put_byte(OutputStream& stream, char byte) {
  if (stream.used == stream_buffer_size) hand_on(stream);
  stream.buffer[stream.used++] = byte;
}

void write_bytes(OutputStream& stream, const char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (static_cast<unsigned char>(bytes[i]) == line_feed)
      put_byte(stream, static_cast<char>(carriage_return));
    put_byte(stream, bytes[i]);
  }
  // A console shows each text before the caller goes on (and before any later read of input).
  if (device().kind(stream.handle) == StreamKind::character_device) hand_on(stream);
}

// Decimal digits of `value` at the end of `buffer`; returns where they start.
char* format_decimal(std::int64_t value, char* buffer, std::size_t size) {
  char* at = buffer + size;
  // The magnitude as unsigned, so the most negative value has one too.
  std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    *--at = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--at = '-';
  return at;
}

// Two or more digits of a non-negative date field (a negative one is written as 0).
char* put_field(char* at, int value, int width) {
  char digits[12];
  char* start = format_decimal(value < 0 ? 0 : value, digits, sizeof digits);
  for (int length = static_cast<int>(digits + sizeof digits - start); length < width; ++length) *at++ = '0';
  while (start != digits + sizeof digits) *at++ = *start++;
  return at;
}

// YYYY-MM-DD HH:MM:SS; at most 6 fields of 10 digits and 5 separators, well within the number buffer.
std::size_t format_date_time(const DateTime& when, char* buffer) {
  char* at = put_field(buffer, when.year, 4);
  *at++ = '-';
  at = put_field(at, when.month, 2);
  *at++ = '-';
  at = put_field(at, when.day, 2);
  *at++ = ' ';
  at = put_field(at, when.hour, 2);
  *at++ = ':';
  at = put_field(at, when.minute, 2);
  *at++ = ':';
  at = put_field(at, when.second, 2);
  return static_cast<std::size_t>(at - buffer);
}

void write_value(OutputStream& stream, const ConsoleValue& value) {
  // Numbers become text here first; a text's own bytes are written as they are, never used as a format.
  char number[number_buffer_size];
  switch (value.kind()) {
    case ConsoleValue::Kind::text:
      if (value.text() != nullptr) write_bytes(stream, value.text(), std::strlen(value.text()));
      return;
    case ConsoleValue::Kind::boolean:
      // "真" (true) and "假" (false).
      write_bytes(stream, value.integer() != 0 ? "\xd5\xe6" : "\xbc\xd9", 2);
      return;
    case ConsoleValue::Kind::integer1:
    case ConsoleValue::Kind::integer2:
    case ConsoleValue::Kind::integer4:
    case ConsoleValue::Kind::integer8: {
      // The constructors keep a 1-byte integer unsigned and the wider ones signed, so one signed
      // rendering gives "%u" and "%d" alike.
      char* digits = format_decimal(value.integer(), number, sizeof number);
      write_bytes(stream, digits, static_cast<std::size_t>(number + sizeof number - digits));
      return;
    }
    case ConsoleValue::Kind::float4:
    case ConsoleValue::Kind::float8: {
      // As many significant digits as the type carries: 7 for 4 bytes, 15 for 8.
      int digits = value.kind() == ConsoleValue::Kind::float4 ? 7 : 15;
      write_bytes(stream, number, format_floating_point(value.floating(), digits, number, sizeof number));
      return;
    }
    case ConsoleValue::Kind::date_time: {
      std::size_t length = format_date_time(value.date_time(), number);
      write_bytes(stream, number, length);
      return;
    }
    case ConsoleValue::Kind::other:
      return;
  }
}

// One read from the handle, translated in place: CR LF becomes LF, and a Ctrl+Z ends the data of the
// read (and the input, for a file or a pipe). False when the read gave nothing: end, failure or a
// Ctrl+Z at its start.
bool fill_input() {
  InputStream& in = input_stream;
  in.next = 0;
  in.end = 0;
  if (in.ended) return false;
  bool file_or_pipe = device().kind(StandardStream::input) != StreamKind::character_device;
  for (;;) {
    std::size_t start = 0;
    if (in.carriage_return_waiting) {
      in.buffer[0] = static_cast<char>(carriage_return);
      start = 1;
      in.carriage_return_waiting = false;
    }
    std::ptrdiff_t got = device().read(in.buffer + start, stream_buffer_size - start);
    if (got < 0) {
      in.failed = true;
      got = 0;
    }
    // A CR is held back only while more input may follow it.
    bool more_may_follow = got > 0;
    std::size_t raw = start + static_cast<std::size_t>(got);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < raw; ++i) {
      auto byte = static_cast<unsigned char>(in.buffer[i]);
      if (byte == end_of_file_mark) {
        if (file_or_pipe) in.ended = true;
        break;
      }
      if (byte == carriage_return) {
        if (i + 1 < raw) {
          if (static_cast<unsigned char>(in.buffer[i + 1]) == line_feed) {
            ++i;
            byte = line_feed;
          }
        } else if (more_may_follow) {
          in.carriage_return_waiting = true;
          break;
        }
      }
      in.buffer[kept++] = static_cast<char>(byte);
    }
    in.end = kept;
    // A read that brought only a CR still waiting has not decided anything yet: read on.
    if (kept == 0 && in.carriage_return_waiting) continue;
    return kept > 0;
  }
}

// fgets on standard input: the bytes up to and including the first LF, at most `capacity` of them;
// the rest stays in the stream. Returns the count stored, 0 when nothing could be read.
std::size_t read_line(char* line, std::size_t capacity) {
  InputStream& in = input_stream;
  std::size_t count = 0;
  while (count < capacity) {
    if (in.next == in.end && !fill_input()) break;
    char byte = in.buffer[in.next++];
    line[count++] = byte;
    if (static_cast<unsigned char>(byte) == line_feed) break;
  }
  return count;
}

bool next_key_byte(unsigned char& byte) {
  if (key_state.waiting) {
    key_state.waiting = false;
    byte = key_state.byte;
    return true;
  }
  KeyPress key;
  if (!device().read_key(key)) return false;
  if (key.has_second) {
    key_state.waiting = true;
    key_state.byte = key.second;
  }
  byte = key.first;
  return true;
}

// Keys until Enter (not stored) or the limit. A console that cannot be read ends the text where it is.
std::size_t read_keys(char* line, std::size_t capacity) {
  std::size_t count = 0;
  while (count < capacity) {
    unsigned char byte;
    if (!next_key_byte(byte) || byte == carriage_return) break;
    line[count++] = static_cast<char>(byte);
  }
  return count;
}

// The text ends at its first zero byte; then every trailing byte below 0x20 goes, spaces stay.
Text finish_line(const char* line, std::size_t count) {
  const void* zero = std::memchr(line, 0, count);
  if (zero != nullptr) count = static_cast<std::size_t>(static_cast<const char*>(zero) - line);
  while (count > 0 && static_cast<unsigned char>(line[count - 1]) < 0x20) --count;
  return Text::copy_of(line, count);
}

}  // namespace

void write_console_output(std::initializer_list<ConsoleValue> values) {
  write_console_output(1, values);
}

void write_console_output(std::int32_t direction, std::initializer_list<ConsoleValue> values) {
  OutputStream& stream = direction == 2 ? error_stream : output_stream;
  for (const ConsoleValue& value : values) write_value(stream, value);
}

Text read_console_input() {
  return read_console_input(true);
}

Text read_console_input(bool echo) {
  char line[key_limit];
  std::size_t count = echo ? read_line(line, line_limit) : read_keys(line, key_limit);
  return finish_line(line, count);
}

void flush_console_streams() {
  hand_on(output_stream);
  hand_on(error_stream);
}

void close_console_input() {
  device().close_key_input();
}

void reset_console_streams() {
  output_stream.used = 0;
  output_stream.failed = false;
  error_stream.used = 0;
  error_stream.failed = false;
  input_stream = InputStream{};
  key_state = KeyState{};
}

}  // namespace adsl
