#include "wine_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace adsl::testing {

std::string windows_path(const std::string& unix_path) {
  std::string path = "Z:" + unix_path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string scratch_directory(const std::string& name) {
  std::string dir = std::string(ADSL_WINE_WORK) + "/" + name;
  std::string command = "rm -rf '" + dir + "' && mkdir -p '" + dir + "'";
  if (std::system(command.c_str()) != 0) return ADSL_WINE_WORK;
  return dir;
}

ProgramRun run_under_wine(const std::string& exe, const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment) {
  mkdir(ADSL_WINE_WORK, 0755);
  std::vector<std::string> wine_arguments{exe};
  wine_arguments.insert(wine_arguments.end(), arguments.begin(), arguments.end());
  ProgramInput input;
  input.environment = {"WINEPREFIX=" ADSL_WINE_PREFIX, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
  input.environment.insert(input.environment.end(), environment.begin(), environment.end());
  input.output_file = std::string(ADSL_WINE_WORK) + "/stdout.bin";
  input.error_file = std::string(ADSL_WINE_WORK) + "/stderr.txt";
  return run_program("/usr/lib/wine/wine64", wine_arguments, input);
}

}  // namespace adsl::testing
