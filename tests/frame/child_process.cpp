#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace adsl::testing {

void write_marker(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

namespace {

void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = (out_fd >= 0) + (err_fd >= 0);
  if (out_fd < 0) fds[0].fd = -1;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

ChildOutcome run_in_child(const std::function<void()>& body, OutputTo output) {
  ChildOutcome outcome;
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  char file_name[] = "/tmp/frame-test-out-XXXXXX";
  int out_file = -1;
  if (output == OutputTo::pipe) {
    if (pipe(out_pipe) != 0) std::abort();
  } else {
    out_file = mkstemp(file_name);
    if (out_file < 0) std::abort();
  }
  if (pipe(err_pipe) != 0) std::abort();
  std::fflush(nullptr);

  pid_t child = fork();
  if (child < 0) std::abort();
  if (child == 0) {
    int null_input = open("/dev/null", O_RDONLY);
    dup2(null_input, 0);
    dup2(output == OutputTo::pipe ? out_pipe[1] : out_file, 1);
    dup2(err_pipe[1], 2);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], out_file, null_input})
      if (fd > 2) ::close(fd);
    body();
    write_marker(2, "[body returned]");
    _exit(99);
  }

  if (output == OutputTo::pipe) ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  drain(output == OutputTo::pipe ? out_pipe[0] : -1, err_pipe[0], outcome.out, outcome.err);

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.exited = WIFEXITED(status);
  if (outcome.exited) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);

  if (output == OutputTo::file) {
    lseek(out_file, 0, SEEK_SET);
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(out_file, buffer, sizeof buffer)) > 0)
      outcome.out.append(buffer, static_cast<std::size_t>(got));
    ::close(out_file);
    unlink(file_name);
  }
  const std::string returned = "[body returned]";
  if (outcome.err.size() >= returned.size() &&
      outcome.err.compare(outcome.err.size() - returned.size(), returned.size(), returned) == 0) {
    outcome.body_returned = true;
  }
  return outcome;
}

}  // namespace adsl::testing
