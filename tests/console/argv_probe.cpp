// Started by the tests with an account and a password: hands its argv to the console layer as the
// program's main does, then tells what /proc/self/cmdline still shows and which arguments it gets.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "services/command_line.h"
#include "services/text.h"

namespace {

std::string describe(const adsl::TextArray& arguments) {
  std::string text;
  for (std::size_t i = 1; i <= adsl::element_count(arguments); ++i) {
    const char* element = arguments.element(i);
    text += element != nullptr ? "[" + std::string(element) + "]" : "<absent>";
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  adsl::remember_process_arguments(argc, argv);
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  std::string cmdline((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  adsl::TextArray first;
  adsl::get_command_line_arguments(first);
  adsl::TextArray second;
  adsl::get_command_line_arguments(second);
  std::printf("cmdline=%s\n", cmdline.c_str());  // up to the first zero: the program name
  std::printf("shows-secret=%s\n", cmdline.find("secret") != std::string::npos ? "yes" : "no");
  std::printf("shows-account=%s\n", cmdline.find("account") != std::string::npos ? "yes" : "no");
  std::printf("first=%s\n", describe(first).c_str());
  std::printf("second=%s\n", describe(second).c_str());
  return 0;
}
