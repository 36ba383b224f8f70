// The process services, clock and message pump on Linux: /proc/self/exe, chdir, malloc, standard
// error for the fatal report, _exit, the monotonic clock and a thread-local queue of our own.
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "services/lasting_instance.h"
#include "services/message_queue.h"
#include "services/platform.h"

namespace adsl {
namespace {

class PosixProcessServices final : public ProcessServices {
 public:
  // There are no system error boxes to switch off here.
  void disable_error_boxes() override {}

  std::size_t module_path(char* buffer, std::size_t capacity) override {
    if (capacity == 0) return 1;
    // readlink neither terminates nor tells the whole length: a result that fills the buffer may have
    // been cut, so it is reported as not fitting and the caller asks again with more room.
    ssize_t length = readlink("/proc/self/exe", buffer, capacity);
    if (length < 0) {
      buffer[0] = '\0';
      return 0;
    }
    if (static_cast<std::size_t>(length) >= capacity) return capacity;
    buffer[length] = '\0';
    return static_cast<std::size_t>(length);
  }

  // Paths are UTF-8 here: no byte leads a character whose trail could be taken for a separator.
  bool is_lead_byte(unsigned char) override { return false; }
  char path_separator() override { return '/'; }

  void set_current_directory(const char* path) override {
    // A failure leaves the current directory where it was, as on Windows.
    if (chdir(path) != 0) return;
  }

  // HeapAlloc hands out a distinct block for a zero size; malloc(0) may not.
  void* heap_alloc(std::size_t size) override { return std::malloc(size != 0 ? size : 1); }
  void heap_free(void* block) override { std::free(block); }

  void show_error_box(const char* text, const char*) override {
    std::size_t remaining = 0;
    while (text[remaining] != '\0') ++remaining;
    while (remaining > 0) {
      ssize_t written = write(STDERR_FILENO, text, remaining);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      text += written;
      remaining -= static_cast<std::size_t>(written);
    }
  }

  [[noreturn]] void exit_process(std::int32_t exit_code) override { _exit(exit_code); }
};

class MonotonicClock final : public Clock {
 public:
  std::uint32_t tick_count() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Like GetTickCount, a millisecond count that wraps every 49.7 days.
    std::uint64_t milliseconds =
        static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(milliseconds);
  }
  void yield() override { sched_yield(); }
};

struct QueuedMessage {
  MessageHandler handler;  // null for a quit request
  std::intptr_t value;
};

// A ring of fixed size per thread: posting never allocates, and a full queue refuses, as
// PostThreadMessage does.
constexpr std::uint32_t queue_capacity = 256;

struct ThreadQueue {
  QueuedMessage messages[queue_capacity];
  std::uint32_t head;
  std::uint32_t count;
};

thread_local ThreadQueue thread_queue;

bool enqueue(MessageHandler handler, std::intptr_t value) {
  ThreadQueue& queue = thread_queue;
  if (queue.count == queue_capacity) return false;
  queue.messages[(queue.head + queue.count) % queue_capacity] = QueuedMessage{handler, value};
  ++queue.count;
  return true;
}

class QueueMessagePump final : public MessagePump {
 public:
  bool peek(bool& is_quit) override {
    const ThreadQueue& queue = thread_queue;
    if (queue.count == 0) return false;
    is_quit = queue.messages[queue.head].handler == nullptr;
    return true;
  }

  void get_translate_dispatch() override {
    ThreadQueue& queue = thread_queue;
    if (queue.count == 0) return;
    // Taken off before it runs, so a handler may post again.
    QueuedMessage message = queue.messages[queue.head];
    queue.head = (queue.head + 1) % queue_capacity;
    --queue.count;
    if (message.handler != nullptr) message.handler(message.value);
  }
};

}  // namespace

bool post_thread_message(MessageHandler handler, std::intptr_t value) {
  return handler != nullptr && enqueue(handler, value);
}

bool post_quit_message() {
  return enqueue(nullptr, 0);
}

void discard_thread_messages() {
  thread_queue.head = 0;
  thread_queue.count = 0;
}

std::uint32_t waiting_thread_messages() {
  return thread_queue.count;
}

ProcessServices& system_process_services() {
  return lasting_instance<PosixProcessServices>();
}
Clock& system_clock() {
  return lasting_instance<MonotonicClock>();
}
MessagePump& system_message_pump() {
  return lasting_instance<QueueMessagePump>();
}

}  // namespace adsl
