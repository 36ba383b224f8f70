// The streams over the real descriptors: each case runs in a forked child whose descriptors 0 to 2
// are the pipe, file or terminal under test, so the test runner's own streams stay untouched. The
// child reports what it saw on a pipe of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "services/console.h"

namespace adsl {
namespace {

std::string read_all(int fd) {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

void write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

// What a child reported and how it ended.
struct ChildRun {
  std::string report;
  int status = 0;
  bool exited_cleanly() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

// The child's report channel; its body writes to it with report().
int report_fd = -1;

void report(const std::string& text) {
  write_all(report_fd, text);
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

void report_text(const Text& text) {
  report(text.absent() ? "<absent>" : "[" + hex(text.c_str()) + "]");
}

// Forks; the child runs `body` (with a 10-second alarm so a read that blocks fails the test instead
// of hanging it) and ends with _exit(0). `parent` runs meanwhile, then the report is collected.
ChildRun run_child(const std::function<void()>& body, const std::function<void(pid_t)>& parent = {}) {
  int channel[2];
  if (pipe(channel) != 0) return {"pipe failed", -1};
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(channel[0]);
    report_fd = channel[1];
    alarm(10);
    body();
    _exit(0);
  }
  close(channel[1]);
  if (parent) parent(pid);
  ChildRun run;
  run.report = read_all(channel[0]);
  close(channel[0]);
  waitpid(pid, &run.status, 0);
  return run;
}

std::string temporary_file() {
  char path[] = "/tmp/adsl-console-XXXXXX";
  int fd = mkstemp(path);
  close(fd);
  return path;
}

std::string file_content(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  std::string content = read_all(fd);
  close(fd);
  return content;
}

off_t size_of(int fd) {
  struct stat info {};
  fstat(fd, &info);
  return info.st_size;
}

int bytes_waiting(int fd) {
  int count = 0;
  ioctl(fd, FIONREAD, &count);
  return count;
}

// Reads from a terminal's master side until `wanted` has appeared or two seconds have passed.
std::string read_master_until(int master, const std::string& wanted) {
  std::string seen;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (seen.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd waiting{master, POLLIN, 0};
    if (poll(&waiting, 1, 50) <= 0) continue;
    char buffer[512];
    ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(got));
  }
  return seen;
}

// Waits until the child has put the terminal into raw mode (at most five seconds); true when it has.
bool wait_for_raw_mode(int master) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    termios mode{};
    if (tcgetattr(master, &mode) == 0 && (mode.c_lflag & (ICANON | ECHO)) == 0) return true;
    usleep(1000);
  }
  return false;
}

TEST(ConsolePosix, FileGetsExactBytesOnlyWhenFlushed) {
  std::string path = temporary_file();
  // "账号：" then the account, as the dialer writes them, and a per cent sign that must pass.
  ChildRun run = run_child([&] {
    int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    dup2(fd, STDOUT_FILENO);
    write_console_output({"\xd5\xcb\xba\xc5\xa3\xba", "acc", "\r\n"});
    write_console_output({"50%d\n"});
    report(std::to_string(size_of(fd)) + ",");
    flush_console_streams();
    report(std::to_string(size_of(fd)));
  });
  EXPECT_TRUE(run.exited_cleanly());
  EXPECT_EQ(run.report, "0,18");
  EXPECT_EQ(file_content(path),
            "\xd5\xcb\xba\xc5\xa3\xba"
            "acc\r\r\n50%d\r\n");
  unlink(path.c_str());
}

TEST(ConsolePosix, FullFileBufferIsWrittenAt4096Bytes) {
  std::string path = temporary_file();
  ChildRun run = run_child([&] {
    int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    dup2(fd, STDOUT_FILENO);
    write_console_output({std::string(5000, 'x').c_str()});
    report(std::to_string(size_of(fd)) + ",");
    flush_console_streams();
    report(std::to_string(size_of(fd)));
  });
  EXPECT_EQ(run.report, "4096,5000");
  EXPECT_EQ(file_content(path), std::string(5000, 'x'));
  unlink(path.c_str());
}

TEST(ConsolePosix, PipeGetsExactBytesOnlyWhenFlushed) {
  int data[2];
  ASSERT_EQ(pipe(data), 0);
  ChildRun run = run_child(
      [&] {
        dup2(data[1], STDOUT_FILENO);
        write_console_output({"a\r\n", "", "b%s"});
        report(std::to_string(bytes_waiting(data[0])) + ",");
        flush_console_streams();
        report(std::to_string(bytes_waiting(data[0])));
      },
      [&](pid_t) { close(data[1]); });
  EXPECT_EQ(run.report, "0,7");
  EXPECT_EQ(read_all(data[0]), "a\r\r\nb%s");
  close(data[0]);
}

TEST(ConsolePosix, DirectionTwoWritesToStandardError) {
  int out[2];
  int err[2];
  ASSERT_EQ(pipe(out), 0);
  ASSERT_EQ(pipe(err), 0);
  ChildRun run = run_child(
      [&] {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[1]);
        close(err[1]);
        write_console_output(2, {"to error\n"});
        write_console_output(3, {"to output"});
        flush_console_streams();
      },
      [&](pid_t) {
        close(out[1]);
        close(err[1]);
      });
  EXPECT_TRUE(run.exited_cleanly());
  EXPECT_EQ(read_all(out[0]), "to output");
  EXPECT_EQ(read_all(err[0]), "to error\r\n");
  close(out[0]);
  close(err[0]);
}

TEST(ConsolePosix, ClosedPipeIsAFailedWriteNotADeath) {
  ChildRun run = run_child([] {
    int data[2];
    if (pipe(data) != 0) return;
    close(data[0]);
    dup2(data[1], STDOUT_FILENO);
    write_console_output({"nobody reads this"});
    flush_console_streams();
    write_console_output({"nor this"});
    flush_console_streams();
    // The signal is neither left pending nor left blocked, and its disposition is untouched.
    sigset_t pending;
    sigpending(&pending);
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    struct sigaction action {};
    sigaction(SIGPIPE, nullptr, &action);
    report(std::string("alive") + (sigismember(&pending, SIGPIPE) ? " pending" : "") +
           (sigismember(&blocked, SIGPIPE) ? " blocked" : "") +
           (action.sa_handler == SIG_IGN ? " ignored" : ""));
  });
  EXPECT_TRUE(run.exited_cleanly()) << "status " << run.status;
  EXPECT_EQ(run.report, "alive");
}

TEST(ConsolePosix, ClosedOutputAndInputFailWithoutBlocking) {
  ChildRun run = run_child([] {
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    write_console_output({"into nothing"});
    flush_console_streams();
    report_text(read_console_input());
  });
  EXPECT_TRUE(run.exited_cleanly());
  EXPECT_EQ(run.report, "<absent>");
}

TEST(ConsolePosix, PipeInputIsReadLineByLine) {
  int data[2];
  ASSERT_EQ(pipe(data), 0);
  std::string long_line(3000, 'L');
  long_line[2048] = 'M';
  ChildRun run = run_child(
      [&] {
        dup2(data[0], STDIN_FILENO);
        close(data[1]);
        for (int i = 0; i < 5; ++i) {
          report_text(read_console_input());
          report(" ");
        }
      },
      [&](pid_t) {
        close(data[0]);
        write_all(data[1], long_line +
                               "\r\nabc  \r\n\r\ntail\x1a"
                               "after ctrl-z\n");
        close(data[1]);
      });
  EXPECT_TRUE(run.exited_cleanly());
  std::string expected = "[" + hex(long_line.substr(0, 2048)) + "] [" + hex(long_line.substr(2048)) + "] [" +
                         hex("abc  ") + "] <absent> [" + hex("tail") + "] ";
  EXPECT_EQ(run.report, expected);
  close(data[0]);
}

TEST(ConsolePosix, FileInputEndsAtOnce) {
  struct Row {
    const char* name;
    std::string content;
    std::string expected;
  };
  const Row rows[] = {
      {"empty file", "", "<absent><absent>"},
      {"one line without LF", "only", "[" + hex("only") + "]<absent>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string path = temporary_file();
    int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    write_all(fd, row.content);
    close(fd);
    ChildRun run = run_child([&] {
      int in = open(path.c_str(), O_RDONLY);
      dup2(in, STDIN_FILENO);
      report_text(read_console_input());
      report_text(read_console_input());
    });
    EXPECT_TRUE(run.exited_cleanly());
    EXPECT_EQ(run.report, row.expected);
    unlink(path.c_str());
  }
}

// A terminal: the prompt must be on the screen before the program waits for the line.
TEST(ConsolePosix, TerminalShowsEachTextBeforeTheNextRead) {
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  std::string seen;
  ChildRun run = run_child(
      [&] {
        close(master);
        setenv("LC_ALL", "C", 1);
        dup2(slave, STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        write_console_output({"prompt>"});
        report_text(read_console_input());
      },
      [&](pid_t) {
        close(slave);
        seen = read_master_until(master, "prompt>");
        write_all(master, "typed line\n");
      });
  EXPECT_NE(seen.find("prompt>"), std::string::npos) << seen;
  EXPECT_TRUE(run.exited_cleanly());
  EXPECT_EQ(run.report, "[" + hex("typed line") + "]");
  close(master);
}

// A terminal whose locale is not a GBK one shows the code page 936 text in its own encoding; a
// pipe under the same locale still gets the exact bytes.
TEST(ConsolePosix, TerminalTextIsShownInTheLocalesEncoding) {
  struct Row {
    const char* name;
    const char* locale;
    std::vector<const char*> texts;
    std::string expected;
  };
  const Row rows[] = {
      // "账号：" in code page 936 and in UTF-8.
      {"UTF-8 terminal",
       "C.UTF-8",
       {"\xd5\xcb\xba\xc5\xa3\xba"
        "acc\n"},
       "\xe8\xb4\xa6\xe5\x8f\xb7\xef\xbc\x9a"
       "acc\r\n"},
      // "账" cut after its lead byte.
      {"character cut between texts", "C.UTF-8", {"<\xd5", "\xcb>"}, "<\xe8\xb4\xa6>"},
      {"ASCII terminal", "C", {"\xd5\xcb-ok"}, "?-ok"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    // Raw output: the terminal hands the bytes to the master side as written.
    termios mode{};
    tcgetattr(slave, &mode);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(slave, TCSANOW, &mode);
    std::string seen;
    ChildRun run = run_child(
        [&] {
          close(master);
          setenv("LC_ALL", row.locale, 1);
          dup2(slave, STDOUT_FILENO);
          for (const char* text : row.texts) write_console_output({text});
          report("done");
        },
        [&](pid_t) {
          close(slave);
          seen = read_master_until(master, row.expected);
        });
    EXPECT_TRUE(run.exited_cleanly());
    EXPECT_EQ(seen, row.expected);
    close(master);
  }

  int data[2];
  ASSERT_EQ(pipe(data), 0);
  run_child(
      [&] {
        setenv("LC_ALL", "C.UTF-8", 1);
        dup2(data[1], STDOUT_FILENO);
        write_console_output({"\xd5\xcb\xba\xc5"});
        flush_console_streams();
      },
      [&](pid_t) { close(data[1]); });
  EXPECT_EQ(read_all(data[0]), "\xd5\xcb\xba\xc5");
  close(data[0]);
}

// Keys without echo come from the controlling terminal in raw mode, one at a time; escape
// sequences of cursor, editing and function keys become the Windows console's byte pairs.
TEST(ConsolePosix, KeysFromTheTerminalWithoutEcho) {
  int master = -1;
  pid_t pid = -1;
  int channel[2];
  ASSERT_EQ(pipe(channel), 0);
  fflush(nullptr);
  pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(channel[0]);
    report_fd = channel[1];
    alarm(10);
    report_text(read_console_input(false));
    report(" ");
    report_text(read_console_input(false));
    termios after{};
    tcgetattr(STDIN_FILENO, &after);
    report((after.c_lflag & ICANON) && (after.c_lflag & ECHO) ? " restored" : " left raw");
    close_console_input();
    _exit(0);
  }
  close(channel[1]);
  // Type everything at once while the terminal is raw, as a fast typist or a paste would.
  EXPECT_TRUE(wait_for_raw_mode(master));
  write_all(master,
            "ab\x1b[A\x1b[3~\x1b[1;5D c\r"
            "q\x1b[15~z\r");
  std::string reported = read_all(channel[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::string screen = read_master_until(master, "never shown");
  close(master);
  close(channel[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Up, Delete and Ctrl+Left as pairs; F5 brings a zero byte, which ends the second text.
  EXPECT_EQ(reported, "[" + hex("ab\xe0\x48\xe0\x53\xe0\x4b c") + "] [" + hex("q") + "] restored");
  EXPECT_EQ(screen.find("ab"), std::string::npos) << "echoed: " << screen;
}

// A terminal's Esc key alone is the byte 0x1B, told from a sequence by the pause after it.
TEST(ConsolePosix, LoneEscapeKeyIsItsOwnByte) {
  int master = -1;
  int channel[2];
  ASSERT_EQ(pipe(channel), 0);
  fflush(nullptr);
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(channel[0]);
    report_fd = channel[1];
    alarm(10);
    report_text(read_console_input(false));
    _exit(0);
  }
  close(channel[1]);
  EXPECT_TRUE(wait_for_raw_mode(master));
  write_all(master, "x\x1b");
  usleep(400 * 1000);
  write_all(master, "y\r");
  std::string reported = read_all(channel[0]);
  waitpid(pid, nullptr, 0);
  close(master);
  close(channel[0]);
  EXPECT_EQ(reported, "[" + hex("x\x1by") + "]");
}

}  // namespace
}  // namespace adsl
