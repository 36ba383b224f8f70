// The start routine: arguments, banner, and either the dial way or the usage dialogue.
#include "app/dialer.h"
#include "services/command_line.h"
#include "services/console.h"
#include "services/frame.h"
#include "services/platform.h"
#include "services/text.h"

namespace adsl {

namespace {

// Code page 936 bytes. Each banner line is 56 bytes before its CR LF, so the frame's sides line up.
// "┏                欢迎使用Qov自动ADSL拨号             ┓\r\n"
constexpr char kBannerTop[] =
    "\xa9\xb3                \xbb\xb6\xd3\xad\xca\xb9\xd3\xc3Qov\xd7\xd4\xb6\xaf"
    "ADSL\xb2\xa6\xba\xc5             \xa9\xb7\r\n";
// "┠──────────────────────────┨\r\n" (26 box-drawing horizontals)
constexpr char kBannerRule[] =
    "\xa9\xc4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4"
    "\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4\xa9\xa4"
    "\xa9\xa4\xa9\xcc\r\n";

constexpr char kUsageStart[] = "\xca\xb9\xd3\xc3\xcb\xb5\xc3\xf7\xa3\xba";      // "使用说明："
constexpr char kUsageEnd[] = " ADSL\xd5\xcb\xba\xc5 ADSL\xc3\xdc\xc2\xeb\r\n";  // " ADSL账号 ADSL密码\r\n"

// The example account has the e-mail form in which ISPs hand out ADSL accounts.
#define ADSL_EXAMPLE_ACCOUNT "07551234567@163.gd"
// "例如：账号为" + account + " 密码为：DCADCEA 本程序的路径为 d:\adsl.exe\r\n"
constexpr char kExampleLine[] =
    "\xc0\xfd\xc8\xe7\xa3\xba\xd5\xcb\xba\xc5\xce\xaa" ADSL_EXAMPLE_ACCOUNT
    " \xc3\xdc\xc2\xeb\xce\xaa\xa3\xba"
    "DCADCEA \xb1\xbe\xb3\xcc\xd0\xf2\xb5\xc4\xc2\xb7\xbe\xb6\xce\xaa d:\\adsl.exe\r\n";
// "输入命令： d:\adsl.exe " + account + " DCADCEA" — no line end: the typed line is echoed behind it.
constexpr char kExampleCommand[] =
    "\xca\xe4\xc8\xeb\xc3\xfc\xc1\xee\xa3\xba d:\\adsl.exe " ADSL_EXAMPLE_ACCOUNT " DCADCEA";
#undef ADSL_EXAMPLE_ACCOUNT

void show_usage_and_wait() {
  Text run_directory = get_run_directory();
  Text executable_name = get_executable_name();
  // "\\" on Windows; the platform's own separator elsewhere, so the line shows a path that works there.
  const char separator[2] = {platform().process->path_separator(), '\0'};
  Text usage_line =
      concat_texts({kUsageStart, run_directory.c_str(), separator, executable_name.c_str(), kUsageEnd});
  run_directory.reset();
  executable_name.reset();

  write_console_output({usage_line, kExampleLine, kExampleCommand});
  usage_line.reset();

  // The line only tells us the user has read the instructions.
  read_console_input();
}

}  // namespace

int dialer_main() {
  TextArray arguments = TextArray::with_one_dimension(2);
  get_command_line_arguments(arguments);

  write_console_output({kBannerTop, kBannerRule});

  if (element_count(arguments) == 2) run_dial_sequence(arguments);

  show_usage_and_wait();
  arguments.release();
  return 0;
}

}  // namespace adsl
