// The dial-up platform off Windows until a dial-up service is bound here: an empty phone book, no
// connections, and no window ever exists. A dial therefore fails cleanly as "entry not found".

#include "dialup/ras.h"
#include "services/lasting_instance.h"

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

}  // namespace

RasOperations& system_ras_operations() {
  return lasting_instance<EmptyRasService>();
}

StatusWindows& system_status_windows() {
  return lasting_instance<NoStatusWindows>();
}

}  // namespace adsl
