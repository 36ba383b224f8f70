#include "services/platform.h"

namespace adsl {

Platform& platform() {
  static Platform services{&system_process_services(), &system_console_device(), &system_clock(),
                           &system_message_pump()};
  return services;
}

}  // namespace adsl
