#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "child_process.h"
#include "frame_fakes.h"
#include "services/console.h"
#include "services/frame.h"
#include "services/memory.h"

namespace adsl::testing {
namespace {

// The standard descriptors as they are, with the closing of the console input made visible.
class MarkingConsole : public ConsoleDevice {
 public:
  StreamKind kind(StandardStream stream) override {
    struct stat info {};
    if (fstat(static_cast<int>(stream), &info) != 0 || S_ISCHR(info.st_mode))
      return StreamKind::character_device;
    return S_ISREG(info.st_mode) ? StreamKind::file : StreamKind::pipe;
  }
  bool usable(StandardStream) override { return true; }
  bool write(StandardStream stream, const char* bytes, std::size_t count) override {
    write_marker(static_cast<int>(stream), std::string(bytes, count));
    return true;
  }
  std::ptrdiff_t read(char*, std::size_t) override { return 0; }
  bool read_key(KeyPress&) override { return false; }
  void close_key_input() override { write_marker(1, "[input closed]"); }
};

// Set in the children only: the gtest process itself ends without these markers.
bool in_child = false;

void first_registered_clean_up() {
  write_marker(1, "[clean-up 1]");
  // Text written by a clean-up is still flushed, since the flush comes after every clean-up.
  write_console_output({"written at exit\n"});
}
void second_registered_clean_up() {
  write_marker(1, "[clean-up 2]");
}

// Registered by a static initialiser of this file, as the dial-up record registers its rule.
struct StaticCleanUp {
  StaticCleanUp() {
    std::atexit([] {
      if (in_child) write_marker(1, "[static clean-up]");
    });
  }
} static_clean_up;

// A child's world: this file's console device, empty streams, and the clean-ups registered.
void enter_child() {
  in_child = true;
  // Never destroyed: the flush at exit still writes through it.
  static MarkingConsole& console = *new MarkingConsole;
  platform().console = &console;
  reset_console_streams();
  std::atexit(first_registered_clean_up);
  std::atexit(second_registered_clean_up);
}

std::string directory_of_this_program() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "?";
  std::string whole(path, static_cast<std::size_t>(length));
  return whole.substr(0, whole.rfind('/'));
}

int fake_dialer_main() {
  char current[PATH_MAX];
  const bool moved = getcwd(current, sizeof current) != nullptr && directory_of_this_program() == current;
  write_marker(1, moved ? "[in run directory]" : std::string("[current directory: ") + current + "]");
  write_console_output({"usage text\n"});
  return 5;  // the frame does not use it
}

TEST(Ending, ReturnPathRunsCleanUpsNewestFirstThenFlushesThenClosesInput) {
  for (OutputTo output : {OutputTo::pipe, OutputTo::file}) {
    SCOPED_TRACE(output == OutputTo::pipe ? "to a pipe" : "to a file");
    ChildOutcome outcome = run_in_child(
        [] {
          enter_child();
          // Started from elsewhere; start-up moves to the program's own directory.
          if (chdir("/") != 0) std::abort();
          run_process_frame(fake_dialer_main);
        },
        output);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.out,
              "[in run directory][clean-up 2][clean-up 1][static clean-up]"
              "usage text\r\nwritten at exit\r\n[input closed]");
  }
}

TEST(Ending, TerminateProgramFlushesButRunsNoCleanUp) {
  for (OutputTo output : {OutputTo::pipe, OutputTo::file}) {
    for (std::int32_t code : {0, 7, -1}) {
      SCOPED_TRACE(std::string(output == OutputTo::pipe ? "to a pipe" : "to a file") + ", code " +
                   std::to_string(code));
      ChildOutcome outcome = run_in_child(
          [code] {
            enter_child();
            write_console_output({"dial text\n"});
            write_console_output(2, {"error text\n"});
            terminate_program(code);
          },
          output);
      EXPECT_TRUE(outcome.exited);
      EXPECT_EQ(outcome.exit_code, code & 0xFF);
      EXPECT_FALSE(outcome.body_returned);
      EXPECT_EQ(outcome.out, "dial text\r\n");
      EXPECT_EQ(outcome.err, "error text\r\n");
    }
  }
}

TEST(Ending, FatalReportFlushesNothingAndRunsNoCleanUp) {
  ChildOutcome outcome = run_in_child([] {
    enter_child();
    write_console_output({"dial text\n"});
    static RefusingHeap heap({16});
    platform().process = &heap;
    allocate_memory(16);
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exit_code, 255);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(
      outcome.err,
      "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed!\r\n\r\n"                            // 运行时出错!
      "\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba"                                     // 错误信息：
      "\xb7\xd6\xc5\xe4 16 \xd7\xd6\xbd\xda\xc4\xda\xb4\xe6\xca\xa7\xb0\xdc!\r\n");  // 分配 16 字节内存失败!
}

}  // namespace
}  // namespace adsl::testing
