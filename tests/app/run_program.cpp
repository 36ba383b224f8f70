#include "run_program.h"

#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace adsl::testing {

namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

std::string read_file(const std::string& path) {
  std::string bytes;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return bytes;
}

ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const ProgramInput& input) {
  int out[2], err[2], in[2] = {-1, -1};
  check(pipe2(out, O_CLOEXEC) == 0, "pipe");
  check(pipe2(err, O_CLOEXEC) == 0, "pipe");
  if (input.bytes) check(pipe2(in, O_CLOEXEC) == 0, "pipe");

  std::vector<std::string> env_strings;
  // An extra entry replaces the test's own of the same name: with both present, which one a program
  // sees depends on how it searches.
  auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  for (char** e = environ; *e != nullptr; ++e) {
    bool replaced = false;
    for (const auto& extra : input.environment) replaced = replaced || name_of(extra) == name_of(*e);
    if (!replaced) env_strings.emplace_back(*e);
  }
  for (const auto& extra : input.environment) env_strings.push_back(extra);
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_strings{program};
  argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);

  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  check(child >= 0, "fork");
  if (child == 0) {
    int stdin_fd = input.bytes ? in[0] : open("/dev/null", O_RDONLY);
    dup2(stdin_fd, 0);
    int out_fd = input.output_file.empty()
                     ? out[1]
                     : open(input.output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err_fd = input.error_file.empty()
                     ? err[1]
                     : open(input.error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out_fd < 0 || err_fd < 0) _exit(125);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (!input.directory.empty() && chdir(input.directory.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (input.bytes) {
    close(in[0]);
    // The inputs are small; a pipe holds them whole, so writing before reading cannot deadlock.
    const std::string& bytes = *input.bytes;
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(in[1], bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(in[1]);
  }

  ProgramRun run;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.output, &run.error};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.duration =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (!input.output_file.empty()) run.output = read_file(input.output_file);
  if (!input.error_file.empty()) run.error = read_file(input.error_file);
  return run;
}

std::string gbk(const std::string& utf8) {
  iconv_t convert = iconv_open("CP936", "UTF-8");
  if (convert == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open CP936");
  std::string in = utf8;
  std::string out(in.size() * 2 + 16, '\0');
  char* in_ptr = in.data();
  std::size_t in_left = in.size();
  char* out_ptr = out.data();
  std::size_t out_left = out.size();
  std::size_t result = iconv(convert, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(convert);
  if (result == static_cast<std::size_t>(-1)) throw std::runtime_error("iconv to CP936");
  out.resize(out.size() - out_left);
  return out;
}

std::string visible(const std::string& bytes) {
  std::string shown;
  for (unsigned char c : bytes) {
    if (c == '\n') {
      shown += "\\n\n";
    } else if (c >= 0x20 && c < 0x7f && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      shown += hex;
    }
  }
  return shown;
}

}  // namespace adsl::testing
