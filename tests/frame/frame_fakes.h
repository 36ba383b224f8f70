// Fakes for the frame's platform: a process whose module path, code page and heap are scripted, a
// clock that reads from a script, a message queue that records what a pause does with it, and the
// installation of a world for one test.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "services/platform.h"

namespace adsl::testing {

/// Thrown by FakeProcess::exit_process, so an in-process test sees the end of a process as a value.
struct ProcessEnded {
  std::int32_t exit_code;
};

/// The rule of code page 936: bytes 0x81 to 0xFE lead a two-byte character.
inline bool code_page_936_lead(unsigned char byte) {
  return byte >= 0x81 && byte <= 0xFE;
}

class FakeProcess : public ProcessServices {
 public:
  std::string path;
  char separator = '\\';
  bool (*lead_byte_rule)(unsigned char) = nullptr;
  /// heap_alloc refuses every request when true, otherwise only the sizes listed.
  bool heap_fails = false;
  std::vector<std::size_t> refused_sizes;

  /// What the process was asked, in order: "error boxes", "module path <capacity>", "chdir <path>",
  /// "alloc <size>", "box <caption>|<text>", "exit <code>".
  std::vector<std::string> calls;
  std::size_t live_blocks = 0;

  void disable_error_boxes() override { calls.push_back("error boxes"); }

  // Behaves as GetModuleFileNameA does: a path that does not fit is cut to capacity - 1 bytes and
  // the capacity comes back.
  std::size_t module_path(char* buffer, std::size_t capacity) override {
    calls.push_back("module path " + std::to_string(capacity));
    if (capacity == 0) return 0;
    std::size_t copied = std::min(path.size(), capacity - 1);
    path.copy(buffer, copied);
    buffer[copied] = '\0';
    return path.size() < capacity ? path.size() : capacity;
  }

  bool is_lead_byte(unsigned char byte) override { return lead_byte_rule != nullptr && lead_byte_rule(byte); }
  char path_separator() override { return separator; }
  void set_current_directory(const char* directory) override {
    calls.push_back(std::string("chdir ") + directory);
  }

  void* heap_alloc(std::size_t size) override {
    calls.push_back("alloc " + std::to_string(size));
    if (heap_fails) return nullptr;
    for (std::size_t refused : refused_sizes)
      if (refused == size) return nullptr;
    ++live_blocks;
    return std::malloc(size != 0 ? size : 1);
  }
  void heap_free(void* block) override {
    --live_blocks;
    std::free(block);
  }

  void show_error_box(const char* text, const char* caption) override {
    calls.push_back(std::string("box ") + caption + "|" + text);
  }
  [[noreturn]] void exit_process(std::int32_t exit_code) override {
    calls.push_back("exit " + std::to_string(exit_code));
    throw ProcessEnded{exit_code};
  }
};

/// The system's own process services with a heap that refuses what the test says; for children that
/// must end for real.
class RefusingHeap : public ProcessServices {
 public:
  /// Refuses every request.
  RefusingHeap() : refuse_all_(true) {}
  /// Refuses only the sizes listed.
  explicit RefusingHeap(std::vector<std::size_t> refused) : refused_(std::move(refused)) {}

  void disable_error_boxes() override { system_.disable_error_boxes(); }
  std::size_t module_path(char* buffer, std::size_t capacity) override {
    return system_.module_path(buffer, capacity);
  }
  bool is_lead_byte(unsigned char byte) override { return system_.is_lead_byte(byte); }
  char path_separator() override { return system_.path_separator(); }
  void set_current_directory(const char* path) override { system_.set_current_directory(path); }
  void* heap_alloc(std::size_t size) override {
    if (refuse_all_) return nullptr;
    for (std::size_t refused : refused_)
      if (refused == size) return nullptr;
    return system_.heap_alloc(size);
  }
  void heap_free(void* block) override { system_.heap_free(block); }
  void show_error_box(const char* text, const char* caption) override {
    system_.show_error_box(text, caption);
  }
  [[noreturn]] void exit_process(std::int32_t exit_code) override {
    system_.exit_process(exit_code);
    std::abort();  // not reached: the call above ends the process
  }

 private:
  ProcessServices& system_ = system_process_services();
  bool refuse_all_ = false;
  std::vector<std::size_t> refused_;
};

/// What a pause did, one letter a step: T a clock reading, _ a look at an empty queue, P a look at a
/// waiting message, Q a look at a waiting quit, d a message taken and dispatched.
struct PauseLog {
  std::string steps;
};

/// A queue of named messages ("quit" stands for WM_QUIT) that records every look and dispatch.
class RecordingPump : public MessagePump {
 public:
  explicit RecordingPump(PauseLog& log) : log_(log) {}
  std::deque<std::string> queue;
  std::vector<std::string> dispatched;

  bool peek(bool& is_quit) override {
    if (queue.empty()) {
      log_.steps += '_';
      return false;
    }
    is_quit = queue.front() == "quit";
    log_.steps += is_quit ? 'Q' : 'P';
    return true;
  }
  void get_translate_dispatch() override {
    log_.steps += 'd';
    dispatched.push_back(queue.front());
    queue.pop_front();
  }

 private:
  PauseLog& log_;
};

/// Hands out scripted tick counts, one per reading; a reading may also post a message to a queue.
class ScriptedClock : public Clock {
 public:
  struct Reading {
    std::uint32_t tick;
    std::string posts;  // a message put in the queue at this reading, or empty
  };
  ScriptedClock(PauseLog& log, RecordingPump& pump, std::vector<Reading> readings)
      : log_(log), pump_(pump), readings_(std::move(readings)) {}

  std::uint32_t tick_count() override {
    log_.steps += 'T';
    if (next_ == readings_.size()) {
      // A pause that reads on past its script has missed its end; end it rather than spin forever.
      ++overruns;
      return readings_.back().tick + 0x7FFFFFFFu;
    }
    const Reading& reading = readings_[next_++];
    if (!reading.posts.empty()) pump_.queue.push_back(reading.posts);
    return reading.tick;
  }
  void yield() override { ++yields; }

  int overruns = 0;
  int yields = 0;
  std::size_t readings_taken() const { return next_; }

 private:
  PauseLog& log_;
  RecordingPump& pump_;
  std::vector<Reading> readings_;
  std::size_t next_ = 0;
};

/// Puts the given services in force for the life of the object, then restores the previous ones.
class ScopedPlatform {
 public:
  ScopedPlatform(ProcessServices* process, Clock* clock = nullptr, MessagePump* messages = nullptr,
                 ConsoleDevice* console = nullptr)
      : saved_(platform()) {
    if (process != nullptr) platform().process = process;
    if (clock != nullptr) platform().clock = clock;
    if (messages != nullptr) platform().messages = messages;
    if (console != nullptr) platform().console = console;
  }
  ~ScopedPlatform() { platform() = saved_; }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform saved_;
};

}  // namespace adsl::testing
