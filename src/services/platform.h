// What the services need from the operating system, as small interfaces free of platform headers.
// process_win32.cpp / process_posix.cpp and console_win32.cpp / console_posix.cpp define the
// system's own implementations; tests install their own through platform().
#pragma once

#include <cstddef>
#include <cstdint>

namespace adsl {

enum class StandardStream : int { input = 0, output = 1, error = 2 };

/// Fixed for each standard stream when the process starts.
enum class StreamKind { character_device, file, pipe };

/// One key press read without echo: a character byte, or for a key without a character a pair
/// (0x00 or 0xE0, then the key's code).
struct KeyPress {
  unsigned char first = 0;
  bool has_second = false;
  unsigned char second = 0;
};

/// The standard handles: GetStdHandle, GetFileType, WriteFile, ReadFile and the console input on
/// Windows; descriptors 0 to 2 and the terminal elsewhere. No buffering and no translation here.
class ConsoleDevice {
 public:
  virtual ~ConsoleDevice() = default;
  /// The kind of the stream's handle. A missing or invalid handle, or one whose type cannot be
  /// told, is a character device for which usable() is false.
  virtual StreamKind kind(StandardStream stream) = 0;
  virtual bool usable(StandardStream stream) = 0;
  /// Hands all `count` bytes to the output or error handle; false when they could not all be written.
  virtual bool write(StandardStream stream, const char* bytes, std::size_t count) = 0;
  /// One read from the standard input handle: bytes read, 0 at the end of input, -1 on failure.
  virtual std::ptrdiff_t read(char* buffer, std::size_t capacity) = 0;
  /// One key from the console without echo or line editing; false when the console input cannot be
  /// opened or read.
  virtual bool read_key(KeyPress& key) = 0;
  /// Closes the console input opened by read_key, if any.
  virtual void close_key_input() = 0;
};

/// Process-wide services of the operating system.
class ProcessServices {
 public:
  virtual ~ProcessServices() = default;
  /// Switches off the critical-error and open-file error boxes (SetErrorMode 0x8001 added).
  virtual void disable_error_boxes() = 0;
  /// Writes the module path zero-terminated and returns its length when it fits (result < capacity).
  /// A result >= capacity means it did not fit and the buffer holds nothing usable: neither
  /// GetModuleFileNameA nor readlink tells the whole length, so the caller grows its buffer and asks
  /// again. 0 when the path cannot be had.
  virtual std::size_t module_path(char* buffer, std::size_t capacity) = 0;
  /// True when `byte` leads a two-byte character in the ANSI code page (never, where paths are UTF-8).
  virtual bool is_lead_byte(unsigned char byte) = 0;
  /// The byte that separates directories in a module path.
  virtual char path_separator() = 0;
  /// SetCurrentDirectoryA; failures are ignored.
  virtual void set_current_directory(const char* path) = 0;
  /// The process heap; null when it cannot supply the block.
  virtual void* heap_alloc(std::size_t size) = 0;
  virtual void heap_free(void* block) = 0;
  /// The fatal error box (MessageBoxA with MB_OK | MB_ICONERROR); returns when it has been closed.
  virtual void show_error_box(const char* text, const char* caption) = 0;
  /// Ends the process at once with the exit code: no exit-time clean-up, no stream flushing.
  [[noreturn]] virtual void exit_process(std::int32_t exit_code) = 0;
};

/// GetTickCount and Sleep(0).
class Clock {
 public:
  virtual ~Clock() = default;
  /// Milliseconds on a 32-bit counter that wraps.
  virtual std::uint32_t tick_count() = 0;
  /// Gives up the rest of the time slice.
  virtual void yield() = 0;
};

/// The main thread's message queue: PeekMessageA / GetMessageA / TranslateMessage / DispatchMessageA.
class MessagePump {
 public:
  virtual ~MessagePump() = default;
  /// Whether a message is waiting (left in the queue); `is_quit` tells whether it is WM_QUIT.
  virtual bool peek(bool& is_quit) = 0;
  /// Takes the next message off the queue, translates and dispatches it.
  virtual void get_translate_dispatch() = 0;
};

/// The services in force for the process. Start-up leaves the system's own in place; a test puts
/// its fakes here and restores the previous ones afterwards.
struct Platform {
  ProcessServices* process;
  ConsoleDevice* console;
  Clock* clock;
  MessagePump* messages;
};

Platform& platform();

/// The system's own services, each defined by the platform file that implements it.
ProcessServices& system_process_services();
ConsoleDevice& system_console_device();
Clock& system_clock();
MessagePump& system_message_pump();

}  // namespace adsl
