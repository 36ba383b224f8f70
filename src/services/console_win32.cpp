// The standard handles on Windows: GetStdHandle, GetFileType, WriteFile and ReadFile, the console
// input (CONIN$) for keys read without echo, and the command line from GetCommandLineA.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "services/command_line.h"
#include "services/console.h"
#include "services/lasting_instance.h"
#include "services/platform.h"

namespace adsl {

namespace {

// What the first use found out about a standard handle; it does not change afterwards.
struct StandardHandle {
  bool known = false;
  HANDLE handle = INVALID_HANDLE_VALUE;
  StreamKind kind = StreamKind::character_device;
  bool usable = false;
};

// Keys without a character that the form without echo reports as a pair: 0xE0 and the key's scan
// code for cursor and editing keys, 0x00 and the scan code for F1 to F10, and for F11 and F12 the
// codes that the C library's _getch gives them.
bool key_pair(const KEY_EVENT_RECORD& event, KeyPress& key) {
  WORD scan_code = event.wVirtualScanCode;
  switch (event.wVirtualKeyCode) {
    case VK_PRIOR:
    case VK_NEXT:
    case VK_END:
    case VK_HOME:
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
    case VK_INSERT:
    case VK_DELETE:
      key.first = 0xE0;
      key.second = static_cast<unsigned char>(scan_code);
      break;
    case VK_F1:
    case VK_F2:
    case VK_F3:
    case VK_F4:
    case VK_F5:
    case VK_F6:
    case VK_F7:
    case VK_F8:
    case VK_F9:
    case VK_F10:
      key.first = 0x00;
      key.second = static_cast<unsigned char>(scan_code);
      break;
    case VK_F11:
      key.first = 0xE0;
      key.second = 0x85;
      break;
    case VK_F12:
      key.first = 0xE0;
      key.second = 0x86;
      break;
    default:
      // Shift, control, alt, the lock keys and the like yield nothing.
      return false;
  }
  key.has_second = true;
  return true;
}

class Win32ConsoleDevice final : public ConsoleDevice {
 public:
  StreamKind kind(StandardStream stream) override { return describe(stream).kind; }
  bool usable(StandardStream stream) override { return describe(stream).usable; }

  bool write(StandardStream stream, const char* bytes, std::size_t count) override {
    StandardHandle& standard = describe(stream);
    if (!standard.usable) return false;
    while (count > 0) {
      DWORD chunk = count > 0x10000000u ? 0x10000000u : static_cast<DWORD>(count);
      DWORD written = 0;
      if (!WriteFile(standard.handle, bytes, chunk, &written, nullptr) || written == 0) return false;
      bytes += written;
      count -= written;
    }
    return true;
  }

  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    StandardHandle& standard = describe(StandardStream::input);
    if (!standard.usable) return -1;
    DWORD wanted = capacity > 0x10000000u ? 0x10000000u : static_cast<DWORD>(capacity);
    DWORD got = 0;
    if (!ReadFile(standard.handle, buffer, wanted, &got, nullptr)) {
      // A pipe whose writer has closed it has simply ended.
      return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(got);
  }

  bool read_key(KeyPress& key) override {
    if (key_input_ == INVALID_HANDLE_VALUE) {
      key_input_ = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
      if (key_input_ == INVALID_HANDLE_VALUE) return false;
    }
    DWORD saved_mode = 0;
    if (!GetConsoleMode(key_input_, &saved_mode)) return false;
    SetConsoleMode(key_input_, 0);
    bool ok = read_one_key(key);
    SetConsoleMode(key_input_, saved_mode);
    return ok;
  }

  void close_key_input() override {
    if (key_input_ != INVALID_HANDLE_VALUE) CloseHandle(key_input_);
    key_input_ = INVALID_HANDLE_VALUE;
  }

 private:
  StandardHandle& describe(StandardStream stream) {
    StandardHandle& standard = handles_[static_cast<int>(stream)];
    if (standard.known) return standard;
    standard.known = true;
    static const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    standard.handle = GetStdHandle(which[static_cast<int>(stream)]);
    if (standard.handle == INVALID_HANDLE_VALUE || standard.handle == nullptr) return standard;
    switch (GetFileType(standard.handle)) {
      case FILE_TYPE_UNKNOWN:
        return standard;  // a type nobody can tell: a character device without a usable handle
      case FILE_TYPE_CHAR:
        standard.kind = StreamKind::character_device;
        break;
      case FILE_TYPE_PIPE:
        standard.kind = StreamKind::pipe;
        break;
      default:
        standard.kind = StreamKind::file;
        break;
    }
    standard.usable = true;
    return standard;
  }

  bool read_one_key(KeyPress& key) {
    for (;;) {
      INPUT_RECORD record;
      DWORD read = 0;
      if (!ReadConsoleInputA(key_input_, &record, 1, &read)) return false;
      if (read == 0 || record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
      const KEY_EVENT_RECORD& event = record.Event.KeyEvent;
      key = KeyPress{};
      if (event.uChar.AsciiChar != 0) {
        key.first = static_cast<unsigned char>(event.uChar.AsciiChar);
        return true;
      }
      if (key_pair(event, key)) return true;
    }
  }

  StandardHandle handles_[3];
  HANDLE key_input_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::size_t format_floating_point(double value, int digits, char* buffer, std::size_t size) {
  // msvcrt's own formatter (the C library's snprintf here is a second, static one) does not end a
  // text that fills the buffer, so the last byte is kept for the zero.
  int length = _snprintf(buffer, size - 1, "%.*g", digits, value);
  buffer[size - 1] = '\0';
  if (length < 0) length = static_cast<int>(size - 1);
  return static_cast<std::size_t>(length);
}

// Never destroyed: the streams are flushed on the way out, after exit-time destructors may have run.
ConsoleDevice& system_console_device() {
  return lasting_instance<Win32ConsoleDevice>();
}

TextArray system_command_line_arguments() {
  return split_command_line(GetCommandLineA());
}

// GetCommandLineA is the source of the arguments here; the C start-up's vector is not used.
void remember_process_arguments(int, char**) {}

}  // namespace adsl
