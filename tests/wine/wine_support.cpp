#include "wine_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
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
                          const WineOptions& options) {
  mkdir(ADSL_WINE_WORK, 0755);
  std::vector<std::string> wine_arguments{exe};
  wine_arguments.insert(wine_arguments.end(), arguments.begin(), arguments.end());
  std::string overrides = "WINEDLLOVERRIDES=mscoree,mshtml=";
  if (!options.dll_overrides.empty()) overrides += ";" + options.dll_overrides;
  ProgramInput input;
  input.environment = {"WINEPREFIX=" ADSL_WINE_PREFIX, "WINEDEBUG=-all", overrides, "LC_ALL=C"};
  input.environment.insert(input.environment.end(), options.environment.begin(), options.environment.end());
  const std::string directory = options.directory.empty() ? std::string(ADSL_WINE_WORK) : options.directory;
  input.output_file = directory + "/stdout.bin";
  input.error_file = directory + "/stderr.txt";
  return run_program("/usr/lib/wine/wine64", wine_arguments, input);
}

void prepare_wine_prefix() {
  static std::once_flag prepared;
  std::call_once(prepared, [] {
    // The launcher without arguments ends at once with its usage code; the run is only for the prefix.
    WineOptions options;
    options.directory = scratch_directory("prefix");
    run_under_wine(std::string(ADSL_WINDOWS_X64_DIR) + "/tests/wine/fixtures/launcher.exe", {}, options);
  });
}

}  // namespace adsl::testing
