// Console text: writing values to standard output or error, reading a line or keys from standard input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "services/text.h"

namespace adsl {

/// A calendar date and time of day, written in the system's date-to-text form.
struct DateTime {
  int year, month, day, hour, minute, second;
};

/// A value of no kind that write_console_output knows: it is skipped.
struct OtherValue {};

/// One value for write_console_output, carrying its kind.
class ConsoleValue {
 public:
  enum class Kind { text, boolean, integer1, integer2, integer4, integer8, float4, float8, date_time, other };

  ConsoleValue(const char* text) : kind_(Kind::text), text_(text) {}
  ConsoleValue(const Text& text) : kind_(Kind::text), text_(text.c_str()) {}
  ConsoleValue(bool value) : kind_(Kind::boolean), integer_(value ? 1 : 0) {}
  ConsoleValue(std::uint8_t value) : kind_(Kind::integer1), integer_(value) {}
  ConsoleValue(std::int16_t value) : kind_(Kind::integer2), integer_(value) {}
  ConsoleValue(std::int32_t value) : kind_(Kind::integer4), integer_(value) {}
  ConsoleValue(std::int64_t value) : kind_(Kind::integer8), integer_(value) {}
  ConsoleValue(float value) : kind_(Kind::float4), floating_(value) {}
  ConsoleValue(double value) : kind_(Kind::float8), floating_(value) {}
  ConsoleValue(const DateTime& value) : kind_(Kind::date_time), date_time_(value) {}
  ConsoleValue(OtherValue) : kind_(Kind::other) {}

  Kind kind() const { return kind_; }
  const char* text() const { return text_; }
  std::int64_t integer() const { return integer_; }
  double floating() const { return floating_; }
  const DateTime& date_time() const { return date_time_; }

 private:
  Kind kind_;
  const char* text_ = nullptr;
  std::int64_t integer_ = 0;
  double floating_ = 0;
  DateTime date_time_{};
};

/// Writes the values in order to standard output, with nothing added between or after them. A text's
/// bytes go out unchanged (an absent one writes nothing); a boolean as "真" or "假" (code page 936);
/// integers in decimal, a 1-byte one unsigned; floating point as format_floating_point gives it with 7
/// (4 bytes) or 15 (8 bytes) significant digits; a date-time as YYYY-MM-DD HH:MM:SS; a value of another kind
/// is skipped. Every LF reaches the handle as CR LF. On a character device each value is handed to the handle
/// before the next is taken; for a file or a pipe the bytes wait in a 4096-byte buffer until it is full or
/// flush_console_streams runs. Write failures are not reported.
void write_console_output(std::initializer_list<ConsoleValue> values);
/// The same with an output direction: 2 selects standard error, anything else standard output.
void write_console_output(std::int32_t direction, std::initializer_list<ConsoleValue> values);

/// One line from standard input (at most 2048 bytes; the rest waits for the next read) read with the
/// console's echo, without its trailing control bytes; absent when nothing remains or nothing was read.
Text read_console_input();
/// echo false reads keys without echo until Enter (not stored) or 2049 bytes.
Text read_console_input(bool echo);

/// Hands whatever the output and error streams still buffer to their handles.
void flush_console_streams();
/// Closes the console input that the form without echo opened.
void close_console_input();

/// The system's text form of a floating-point value: the C library's "%.*g" with `digits` significant
/// digits (on Windows msvcrt's own, which writes a three-digit exponent), zero-terminated in `buffer`;
/// returns its length. Defined by the platform's console file, so the Windows program carries no
/// formatting code of its own.
std::size_t format_floating_point(double value, int digits, char* buffer, std::size_t size);

/// For tests that install their own console device: forgets every buffered byte (output not yet handed
/// on is dropped, not written), the unread rest of standard input, its end-of-input mark and a key byte
/// still waiting, so the streams start as at process start.
void reset_console_streams();

}  // namespace adsl
