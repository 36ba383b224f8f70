// read_console_input over a scripted console device: reads of any sizes and contents, failures and
// ends of input in between, and key presses for the form without echo.
//
// Input: byte 0 chooses the stream kind (bits 0-1: character device, file, pipe; 3 counts as a
// file), bit 2 the form without echo. Then the script: a length byte N, then N bytes that one read
// returns; N = 0 scripts an end of input, N = 255 a failed read. N = 254 is a long read: a 16-bit
// count (little-endian, modulo 4608), the byte repeated that often, then a length byte M and M bytes
// that end the read (4095 bytes at most in all), so lines near the 2048-byte limit with a CR or LF
// just there take a few bytes of input. Without echo the same bytes are key presses, a zero byte and
// the next making one key.
//
// Every line must hold what the reading rules allow: at most 2048 bytes (2049 without echo), no zero
// byte, no trailing byte below 0x20, absent exactly when empty, and its bytes must stand together in
// what the device delivered. When the input is a file or a pipe whose reads all deliver bytes, where
// the reads split the data must not matter: the lines are those of the data read whole, CR LF taken
// as LF and a Ctrl+Z ending it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fake_console.h"
#include "services/console.h"

namespace {

using adsl::testing::FakeConsoleDevice;

[[noreturn]] void fail(const char* what, std::size_t line) {
  std::fprintf(stderr, "read_console_input: %s (line %zu)\n", what, line);
  std::abort();
}

// fgets lines of at most 2048 bytes, each then cut at its first zero byte and stripped of trailing
// control bytes; absent when nothing is left.
std::vector<std::optional<std::string>> model_lines(std::string data) {
  const std::size_t end_mark = data.find('\x1a');
  if (end_mark != std::string::npos) data.resize(end_mark);
  std::string translated;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') continue;
    translated.push_back(data[i]);
  }
  std::vector<std::optional<std::string>> lines;
  std::size_t at = 0;
  while (at < translated.size()) {
    std::size_t length = 0;
    while (length < 2048 && at + length < translated.size()) {
      if (translated[at + length++] == '\n') break;
    }
    std::string line = translated.substr(at, length);
    at += length;
    line.resize(std::strlen(line.c_str()));
    while (!line.empty() && static_cast<unsigned char>(line.back()) < 0x20) line.pop_back();
    lines.push_back(line.empty() ? std::nullopt : std::optional<std::string>(line));
  }
  return lines;
}

struct Installed {
  FakeConsoleDevice device;
  adsl::ConsoleDevice* previous;
  Installed() : previous(adsl::platform().console) {
    adsl::platform().console = &device;
    adsl::reset_console_streams();
  }
  ~Installed() {
    adsl::reset_console_streams();
    adsl::platform().console = previous;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return -1;
  const unsigned kind_bits = data[0] & 3;
  const bool without_echo = (data[0] & 4) != 0;
  const adsl::StreamKind kind = kind_bits == 0
                                    ? adsl::StreamKind::character_device
                                    : (kind_bits == 2 ? adsl::StreamKind::pipe : adsl::StreamKind::file);

  Installed console;
  FakeConsoleDevice& device = console.device;
  device.kinds[0] = kind;
  // Every byte the device hands over that the reading rules keep, in order.
  std::string delivered;
  bool all_reads_deliver = true;
  bool input_ended = false;
  std::size_t total_bytes = 0;
  for (std::size_t i = 1; i < size;) {
    const std::size_t length = data[i++];
    if (length == 0 || length == 255) {
      all_reads_deliver = false;
      device.reads.push_back({std::string(), length == 255});
      continue;
    }
    std::string bytes;
    if (length == 254) {
      // Long reads beyond 8 KiB in all (two stream buffers) add nothing but time.
      if (size - i < 4 || total_bytes > 8192) break;
      // Up to 4607: past the 4096 bytes a read can bring and past two line limits.
      const std::size_t count = (data[i] | (data[i + 1] << 8)) % 4608;
      bytes.assign(count, static_cast<char>(data[i + 2]));
      const std::size_t tail = data[i + 3];
      i += 4;
      const std::size_t taken = tail < size - i ? tail : size - i;
      bytes.append(reinterpret_cast<const char*>(data + i), taken);
      i += taken;
    } else {
      const std::size_t taken = length < size - i ? length : size - i;
      bytes.assign(reinterpret_cast<const char*>(data + i), taken);
      i += taken;
    }
    // A read brings at most what the stream asks for (4095 bytes or more); a longer script entry would
    // be split by the device into reads whose boundaries this target does not know, and on a console
    // a Ctrl+Z ends the data of one read. Longer data is two entries.
    if (bytes.size() > 4095) bytes.resize(4095);
    total_bytes += bytes.size();
    if (bytes.empty()) {
      // The device reports an empty read as the end of input.
      all_reads_deliver = false;
      device.reads.push_back({std::string(), false});
      continue;
    }
    if (without_echo) {
      delivered += bytes;
      for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (bytes[k] == '\0' && k + 1 < bytes.size()) {
          device.keys.push_back(adsl::testing::pair_key(0, static_cast<unsigned char>(bytes[++k])));
        } else {
          device.keys.push_back(adsl::testing::character_key(static_cast<unsigned char>(bytes[k])));
        }
      }
    } else {
      // A Ctrl+Z ends the data of its read, and for a file or a pipe the input as well.
      const std::size_t end_mark = bytes.find('\x1a');
      if (!input_ended) delivered += bytes.substr(0, end_mark);
      if (end_mark != std::string::npos && kind != adsl::StreamKind::character_device) input_ended = true;
      device.reads.push_back({bytes, false});
    }
  }

  const std::size_t limit = without_echo ? 2049 : 2048;
  std::vector<std::optional<std::string>> lines;
  // A line ends at an LF (a CR for keys), at the length limit, or where the device has nothing more
  // for it; that bounds the calls that can still return something. A call that asks the device after
  // the script is used up has found the stream drained.
  const char line_end = without_echo ? '\r' : '\n';
  std::size_t calls = device.reads.size() + device.keys.size() + total_bytes / limit + 3;
  for (char byte : delivered) calls += byte == line_end ? 1 : 0;
  bool drained = false;
  for (std::size_t call = 0; call < calls; ++call) {
    const bool script_used_up = device.reads.empty() && device.keys.empty();
    const int device_calls = device.read_calls + device.key_calls;
    const adsl::Text text = without_echo ? adsl::read_console_input(false) : adsl::read_console_input();
    const std::size_t n = lines.size() + 1;
    if (text.absent()) {
      lines.push_back(std::nullopt);
    } else {
      const std::string line = text.c_str();
      if (line.empty()) fail("a present line without bytes", n);
      if (line.size() > limit) fail("a line over the limit", n);
      if (static_cast<unsigned char>(line.back()) < 0x20) fail("a trailing control byte", n);
      // Horspool's search stays fast on the long runs of one byte that long reads make.
      if (std::search(delivered.begin(), delivered.end(),
                      std::boyer_moore_horspool_searcher(line.begin(), line.end())) == delivered.end())
        fail("bytes the device never delivered together", n);
      lines.push_back(line);
    }
    if (script_used_up) {
      if (device.read_calls + device.key_calls > device_calls) {
        drained = true;
        break;
      }
    }
  }

  if (!without_echo && kind != adsl::StreamKind::character_device && all_reads_deliver) {
    const std::vector<std::optional<std::string>> expected = model_lines(delivered);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::optional<std::string> want = i < expected.size() ? expected[i] : std::nullopt;
      if (lines[i] != want) fail("the lines depend on where the reads split the data", i + 1);
    }
    if (drained && expected.size() > lines.size()) fail("lines of the data never read", lines.size() + 1);
  }
  return 0;
}
