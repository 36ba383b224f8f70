#include "services/frame.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "services/console.h"
#include "services/memory.h"
#include "services/platform.h"

namespace adsl {
namespace {

// The frame's record, filled at start-up and kept until the process ends. Plain pointers rather than
// Text, so that no exit-time destructor releases them while the clean-ups still run.
char* stored_run_directory = nullptr;
char* stored_executable_name = nullptr;

// Only the return path flushes at exit; other binaries that link the frame (the tests) keep their own
// exit processing untouched.
bool return_path_taken = false;

void flush_and_close_at_exit() {
  if (!return_path_taken) return;
  flush_console_streams();
  close_console_input();
}

// The exit-time clean-ups run in reverse order of registration, and static initialisers of other
// translation units (the dial-up record among them) register theirs in an order the linker picks.
// Priority 101 runs this initialiser before every one of default priority, so its handler is
// registered first and runs last: after every clean-up, the streams are flushed, then input closed.
// The services the flush reaches are made first: an exit-time destructor they register is then
// registered before the handler and runs after it, so the flush never meets a destroyed device.
struct FlushLastAtExit {
  FlushLastAtExit() {
    platform();
    // At least 32 registrations always succeed, and the program makes few: this one cannot fail.
    std::atexit(flush_and_close_at_exit);  // NOLINT(cert-err33-c)
  }
};
__attribute__((init_priority(101))) FlushLastAtExit flush_last_at_exit;

// A path of MAX_PATH bytes fits nearly always; a longer one is read again into a larger buffer until
// it fits whole, so neither the run directory nor the executable name is ever cut.
char* read_module_path(ProcessServices& process) {
  std::size_t capacity = 260;
  for (;;) {
    auto* buffer = static_cast<char*>(allocate_memory_of(capacity));
    std::size_t length = process.module_path(buffer, capacity);
    if (length < capacity) {
      buffer[length] = '\0';
      return buffer;
    }
    release_memory(buffer);
    // Doubling runs into allocate_memory_of's 32-bit limit long before size_t could wrap.
    capacity *= 2;
  }
}

void replace_stored(char*& stored, Text text) {
  release_memory(stored);
  stored = text.release_ownership();
}

Text copy_of_stored(const char* stored) {
  return Text::copy_of(stored, stored != nullptr ? std::strlen(stored) : 0);
}

// Serves the queue until it is empty or a quit request heads it; the quit stays waiting.
void message_pass(MessagePump& pump) {
  bool is_quit = false;
  while (pump.peek(is_quit) && !is_quit) pump.get_translate_dispatch();
}

}  // namespace

void split_module_path(const char* path, Text& run_directory, Text& executable_name) {
  ProcessServices& process = *platform().process;
  const char separator = process.path_separator();
  const char* last_separator = nullptr;
  const char* end = path;
  while (*end != '\0') {
    // A lead byte and its trail form one character: a trail byte equal to the separator is not one.
    if (process.is_lead_byte(static_cast<unsigned char>(*end)) && end[1] != '\0') {
      end += 2;
      continue;
    }
    if (*end == separator) last_separator = end;
    ++end;
  }
  if (last_separator == nullptr) {
    run_directory = Text();
    executable_name = Text::copy_of(path, static_cast<std::size_t>(end - path));
    return;
  }
  run_directory = Text::copy_of(path, static_cast<std::size_t>(last_separator - path));
  executable_name = Text::copy_of(last_separator + 1, static_cast<std::size_t>(end - last_separator - 1));
}

void start_process_frame() {
  ProcessServices& process = *platform().process;
  process.disable_error_boxes();
  // The process heap needs no step of its own: heap_alloc always reaches the process's heap.
  char* path = read_module_path(process);
  Text run_directory;
  Text executable_name;
  split_module_path(path, run_directory, executable_name);
  release_memory(path);
  replace_stored(stored_run_directory, std::move(run_directory));
  replace_stored(stored_executable_name, std::move(executable_name));
  process.set_current_directory(stored_run_directory != nullptr ? stored_run_directory : "");
}

void run_process_frame(int (*start_routine)()) {
  start_process_frame();
  start_routine();
  // exit runs the clean-ups in reverse order of registration, the last of them flush_and_close_at_exit.
  return_path_taken = true;
  std::exit(0);
}

void program_entry() {
  run_process_frame(dialer_main);
}

void terminate_program(std::int32_t exit_code) {
  // Flushed so that a redirected output keeps the dial way's text; the clean-ups still do not run.
  flush_console_streams();
  platform().process->exit_process(exit_code);
  // exit_process ends the process; the compiler cannot see that through the virtual call.
  __builtin_trap();
}

void pause_with_events(std::int32_t milliseconds) {
  if (milliseconds <= 0) return;
  Clock& clock = *platform().clock;
  MessagePump& pump = *platform().messages;
  const std::uint32_t duration = static_cast<std::uint32_t>(milliseconds);
  const std::uint32_t start = clock.tick_count();
  for (;;) {
    message_pass(pump);
    message_pass(pump);
    // Unsigned difference: right across the wrap of the 32-bit tick count.
    if (clock.tick_count() - start > duration) return;
    message_pass(pump);
    message_pass(pump);
  }
}

Text get_run_directory() {
  return copy_of_stored(stored_run_directory);
}

Text get_executable_name() {
  return copy_of_stored(stored_executable_name);
}

}  // namespace adsl
