#include "services/command_line.h"
#include "services/frame.h"

int main(int argc, char** argv) {
  adsl::remember_process_arguments(argc, argv);
  adsl::program_entry();
}
