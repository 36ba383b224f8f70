// The dial-up platform off Windows: the RAS operations are pppd's (ras_pppd.cpp) over the system's own
// places, and no status window ever exists.

#include "dialup/ras.h"
#include "dialup/ras_pppd.h"
#include "services/lasting_instance.h"

namespace adsl {

namespace {

class NoStatusWindows final : public StatusWindows {
 public:
  NativeWindow resolve(const StatusWindow&) override { return nullptr; }
  bool IsWindow(NativeWindow) override { return false; }
  void SetWindowTextA(NativeWindow, const char*) override {}
  void InvalidateRect(NativeWindow) override {}
};

}  // namespace

RasOperations& system_ras_operations() {
  return system_pppd_ras_operations();
}

StatusWindows& system_status_windows() {
  return lasting_instance<NoStatusWindows>();
}

}  // namespace adsl
