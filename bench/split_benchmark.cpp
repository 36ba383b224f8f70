// Command-line splitting throughput, beside a reference that only reads the same bytes once and
// classifies each (the least any splitter does): MB/s of each, in the same run.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "services/command_line.h"

namespace {

// The dialer's own command line as a shortcut or a scheduled task gives it.
const std::string kTypical = "\"C:\\Net\\adsl.exe\" 07551234567@163.gd PASSWORD";

// 64 KiB of every kind of argument: plain words, quoted ones with spaces, empty quotes, GBK pairs.
std::string long_command_line() {
  std::string line = "adsl.exe";
  const char* pieces[] = {" word",        " \"quoted with spaces\"",
                          " \"\"",        " \xd5\xcb\xba\xc5\xc3\xdc\xc2\xeb",
                          "\tab\"cd\"ef", " 07551234567@163.gd"};
  for (std::size_t i = 0; line.size() < 65536; ++i) line += pieces[i % 6];
  return line;
}

void split(benchmark::State& state, const std::string& line) {
  for (auto _ : state) {
    adsl::TextArray array = adsl::split_command_line(line.c_str());
    benchmark::DoNotOptimize(array.dimension_size(1));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(line.size()));
}

void scan_reference(benchmark::State& state, const std::string& line) {
  for (auto _ : state) {
    std::size_t separators = 0;
    for (const char* at = line.c_str(); *at != '\0'; ++at) {
      const auto byte = static_cast<unsigned char>(*at);
      separators += (byte <= 0x20 || byte == '"') ? 1 : 0;
    }
    benchmark::DoNotOptimize(separators);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(line.size()));
}

const std::string kLong = long_command_line();

BENCHMARK_CAPTURE(split, typical, kTypical);
BENCHMARK_CAPTURE(scan_reference, typical, kTypical);
BENCHMARK_CAPTURE(split, long_64KiB, kLong);
BENCHMARK_CAPTURE(scan_reference, long_64KiB, kLong);

}  // namespace
