// Times whole processes: runs two commands in turn, each with standard input from /dev/null and
// standard output and error to /dev/null, and reports wall-clock and CPU time (user + system, from
// wait4) of each, their medians and means, and the ratios of the first to the second.
//   adsl_process_timer RUNS COMMAND [ARGS...] --reference REFERENCE [ARGS...]
// The two run alternately after one warm-up run each, so a change in the machine's load falls on
// both alike.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Sample {
  double wall_ms;
  double cpu_ms;
};

double milliseconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_usec) / 1e3;
}

Sample run(const std::vector<char*>& command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    std::exit(2);
  }
  if (child == 0) {
    const int null_in = open("/dev/null", O_RDONLY);
    const int null_out = open("/dev/null", O_WRONLY);
    dup2(null_in, 0);
    dup2(null_out, 1);
    dup2(null_out, 2);
    execv(command[0], command.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s did not exit with 0 (status %d)\n", command[0], status);
    std::exit(2);
  }
  const auto end = std::chrono::steady_clock::now();
  return {std::chrono::duration<double, std::milli>(end - start).count(),
          milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime)};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double mean(const std::vector<double>& values) {
  double sum = 0;
  for (double value : values) sum += value;
  return sum / static_cast<double>(values.size());
}

struct Summary {
  double wall_median, wall_mean, cpu_median, cpu_mean;
};

Summary summarize(const std::vector<Sample>& samples) {
  std::vector<double> wall, cpu;
  for (const Sample& sample : samples) {
    wall.push_back(sample.wall_ms);
    cpu.push_back(sample.cpu_ms);
  }
  return {median(wall), mean(wall), median(cpu), mean(cpu)};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> command, reference;
  bool in_reference = false;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reference") == 0) {
      in_reference = true;
      continue;
    }
    (in_reference ? reference : command).push_back(argv[i]);
  }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 0;
  if (runs < 1 || command.empty() || reference.empty()) {
    std::fprintf(stderr, "usage: %s RUNS COMMAND [ARGS...] --reference REFERENCE [ARGS...]\n", argv[0]);
    return 2;
  }
  command.push_back(nullptr);
  reference.push_back(nullptr);

  run(command);
  run(reference);
  std::vector<Sample> ours, theirs;
  for (int i = 0; i < runs; ++i) {
    ours.push_back(run(command));
    theirs.push_back(run(reference));
  }
  const Summary a = summarize(ours), b = summarize(theirs);
  std::printf("%d runs each, alternating; times in ms (median / mean)\n", runs);
  std::printf("%-12s wall %.3f / %.3f   cpu %.3f / %.3f   %s\n", "command", a.wall_median, a.wall_mean,
              a.cpu_median, a.cpu_mean, command[0]);
  std::printf("%-12s wall %.3f / %.3f   cpu %.3f / %.3f   %s\n", "reference", b.wall_median, b.wall_mean,
              b.cpu_median, b.cpu_mean, reference[0]);
  std::printf("ratio        wall %.2fx (median) %.2fx (mean)   cpu %.2fx (median) %.2fx (mean)\n",
              a.wall_median / b.wall_median, a.wall_mean / b.wall_mean, a.cpu_median / b.cpu_median,
              a.cpu_mean / b.cpu_mean);
  return 0;
}
