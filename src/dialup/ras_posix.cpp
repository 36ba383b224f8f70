// The dial-up platform off Windows until a dial-up service is bound here: an empty phone book, no
// connections, and no window ever exists. A dial therefore fails cleanly as "entry not found".
#include <new>

#include "dialup/ras.h"

namespace adsl {

namespace {

class EmptyRasService final : public RasOperations {
 public:
  DWORD RasEnumEntriesA(const char*, const char*, RASENTRYNAMEA*, DWORD*, DWORD* lpcEntries) override {
    *lpcEntries = 0;
    return ERROR_SUCCESS;
  }
  DWORD RasDialA(const void*, const char*, RASDIALPARAMSA*, DWORD, RasDialNotifier, HRASCONN*) override {
    return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  }
  DWORD RasGetConnectStatusA(HRASCONN, RASCONNSTATUSA*) override { return ERROR_INVALID_HANDLE; }
  DWORD RasEnumConnectionsA(RASCONNA*, DWORD*, DWORD* lpcConnections) override {
    *lpcConnections = 0;
    return ERROR_SUCCESS;
  }
  DWORD RasHangUpA(HRASCONN) override { return ERROR_INVALID_HANDLE; }
};

class NoStatusWindows final : public StatusWindows {
 public:
  NativeWindow resolve(const StatusWindow&) override { return nullptr; }
  bool IsWindow(NativeWindow) override { return false; }
  void SetWindowTextA(NativeWindow, const char*) override {}
  void InvalidateRect(NativeWindow) override {}
};

/// Builds the object once in static storage and never destroys it: the exit-time rule of the dial-up
/// state may still use it after the program's static objects have been torn down.
template <typename T>
T& never_destroyed() {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* object = new (storage) T();
  return *object;
}

}  // namespace

RasOperations& system_ras_operations() {
  return never_destroyed<EmptyRasService>();
}

StatusWindows& system_status_windows() {
  return never_destroyed<NoStatusWindows>();
}

}  // namespace adsl
