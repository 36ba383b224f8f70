// The real start-up path on Linux: a program started with an account and a password no longer shows
// them in /proc/PID/cmdline once it has handed its argv over, and still gets them as its arguments.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

std::string run_probe(const char* account, const char* empty, const char* password) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execl(ARGV_PROBE, ARGV_PROBE, account, empty, password, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buffer[512];
  ssize_t got;
  while ((got = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += "exit status " + std::to_string(status);
  return text;
}

TEST(ProcessArgumentsOnLinux, AccountAndPasswordLeaveTheVisibleCommandLine) {
  std::string report = run_probe("account", "", "secret-password");
  EXPECT_EQ(report, std::string("cmdline=") + ARGV_PROBE +
                        "\nshows-secret=no\nshows-account=no\n"
                        "first=[account]<absent>[secret-password]\n"
                        "second=[account]<absent>[secret-password]\n");
}

}  // namespace
