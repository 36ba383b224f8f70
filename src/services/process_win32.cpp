// The process services, clock and message pump on Windows: kernel32 and user32 as the frame's
// contracts name them.
#include <windows.h>

#include "services/lasting_instance.h"
#include "services/platform.h"

namespace adsl {
namespace {

class Win32ProcessServices final : public ProcessServices {
 public:
  void disable_error_boxes() override {
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  }

  std::size_t module_path(char* buffer, std::size_t capacity) override {
    // GetModuleFileNameA returns nSize when the path was cut (and leaves it unterminated on XP), so
    // that result, like any length >= capacity, tells the caller to grow the buffer.
    DWORD size = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    if (size == 0) return 1;
    DWORD length = GetModuleFileNameA(nullptr, buffer, size);
    if (length >= size) return capacity;
    buffer[length] = '\0';
    return length;
  }

  bool is_lead_byte(unsigned char byte) override { return IsDBCSLeadByte(byte) != FALSE; }
  char path_separator() override { return '\\'; }

  void set_current_directory(const char* path) override { SetCurrentDirectoryA(path); }

  // Flags 0: no zeroing and no exceptions; a refused block is null.
  void* heap_alloc(std::size_t size) override { return HeapAlloc(heap_, 0, size); }
  void heap_free(void* block) override { HeapFree(heap_, 0, block); }

  void show_error_box(const char* text, const char* caption) override {
    MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
  }

  [[noreturn]] void exit_process(std::int32_t exit_code) override {
    ExitProcess(static_cast<UINT>(exit_code));
  }

 private:
  HANDLE heap_ = GetProcessHeap();
};

class TickClock final : public Clock {
 public:
  std::uint32_t tick_count() override { return GetTickCount(); }
  void yield() override { Sleep(0); }
};

class ThreadMessagePump final : public MessagePump {
 public:
  bool peek(bool& is_quit) override {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) return false;
    is_quit = message.message == WM_QUIT;
    return true;
  }

  void get_translate_dispatch() override {
    MSG message;
    BOOL result = GetMessageA(&message, nullptr, 0, 0);
    if (result > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    } else if (result == 0) {
      // A quit request is never taken away by a pause: should one arrive between the look and the
      // retrieval, it is put back.
      PostQuitMessage(static_cast<int>(message.wParam));
    }
  }
};

}  // namespace

ProcessServices& system_process_services() {
  return lasting_instance<Win32ProcessServices>();
}
Clock& system_clock() {
  return lasting_instance<TickClock>();
}
MessagePump& system_message_pump() {
  return lasting_instance<ThreadMessagePump>();
}

}  // namespace adsl
