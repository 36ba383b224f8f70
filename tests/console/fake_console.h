// A console device for tests: records every write per stream, scripts what each read and each key
// read returns, and can make writes fail.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "services/console.h"
#include "services/platform.h"

namespace adsl::testing {

class FakeConsoleDevice final : public ConsoleDevice {
 public:
  /// One scripted result of read(): bytes, or a failure.
  struct ReadResult {
    std::string bytes;
    bool fails = false;
  };

  StreamKind kinds[3] = {StreamKind::character_device, StreamKind::character_device,
                         StreamKind::character_device};
  bool usable_streams[3] = {true, true, true};
  /// Each write call, in order, per stream (index 1 output, 2 error).
  std::vector<std::string> writes[3];
  /// The next this-many writes fail (their bytes are not recorded).
  int failing_writes = 0;
  /// What each read() returns in turn; once used up, reads give 0 (end of input).
  std::deque<ReadResult> reads;
  int read_calls = 0;
  /// What each read_key() returns in turn; once used up, read_key fails.
  std::deque<KeyPress> keys;
  int key_calls = 0;
  int close_key_calls = 0;

  StreamKind kind(StandardStream stream) override { return kinds[static_cast<int>(stream)]; }
  bool usable(StandardStream stream) override { return usable_streams[static_cast<int>(stream)]; }

  bool write(StandardStream stream, const char* bytes, std::size_t count) override {
    if (failing_writes > 0) {
      --failing_writes;
      return false;
    }
    writes[static_cast<int>(stream)].emplace_back(bytes, count);
    return true;
  }

  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    ++read_calls;
    if (reads.empty()) return 0;
    ReadResult next = reads.front();
    reads.pop_front();
    if (next.fails) return -1;
    // A read never returns more than asked: the rest comes with the next read.
    if (next.bytes.size() > capacity) {
      reads.push_front({next.bytes.substr(capacity), false});
      next.bytes.resize(capacity);
    }
    next.bytes.copy(buffer, next.bytes.size());
    return static_cast<std::ptrdiff_t>(next.bytes.size());
  }

  bool read_key(KeyPress& key) override {
    ++key_calls;
    if (keys.empty()) return false;
    key = keys.front();
    keys.pop_front();
    return true;
  }

  void close_key_input() override { ++close_key_calls; }

  /// Everything written to a stream, the writes joined.
  std::string written(StandardStream stream) const {
    std::string all;
    for (const std::string& bytes : writes[static_cast<int>(stream)]) all += bytes;
    return all;
  }
};

/// Installs a fake console device with fresh streams for the length of a test.
class ConsoleFixture {
 public:
  ConsoleFixture() : previous_(platform().console) {
    platform().console = &device;
    reset_console_streams();
  }
  ~ConsoleFixture() {
    reset_console_streams();
    platform().console = previous_;
  }
  ConsoleFixture(const ConsoleFixture&) = delete;
  ConsoleFixture& operator=(const ConsoleFixture&) = delete;

  FakeConsoleDevice device;

 private:
  ConsoleDevice* previous_;
};

inline KeyPress character_key(unsigned char byte) {
  return KeyPress{byte, false, 0};
}
inline KeyPress pair_key(unsigned char first, unsigned char second) {
  return KeyPress{first, true, second};
}

}  // namespace adsl::testing
