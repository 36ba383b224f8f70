#include "dialup/ras.h"

namespace adsl {

DialupPlatform& dialup_platform() {
  static DialupPlatform dialup{&system_ras_operations(), &system_status_windows()};
  return dialup;
}

}  // namespace adsl
