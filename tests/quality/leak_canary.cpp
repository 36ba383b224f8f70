// Loses a block on purpose. Run by CTest in the environment every other test gets, it must be reported
// by LeakSanitizer: if it is not, leak detection has been turned off for the whole test run.
#include <cstdlib>

namespace {
void* volatile held = nullptr;
}

int main() {
  held = std::malloc(48);
  held = nullptr;
  return 0;
}
