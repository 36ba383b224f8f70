// The dial way: echo the account and password, make room for the new connection, dial, report.
#include "app/dialer.h"
#include "dialup/dial.h"
#include "dialup/dial_state.h"
#include "services/console.h"
#include "services/frame.h"
#include "services/text.h"

namespace adsl {

namespace {

constexpr char kAccountLabel[] = "\xd5\xcb\xba\xc5\xa3\xba";   // "账号："
constexpr char kPasswordLabel[] = "\xc3\xdc\xc2\xeb\xa3\xba";  // "密码："
constexpr char kLineEnd[] = "\r\n";
// "提示：当前已经连接，将重新拨号！\r\n"
constexpr char kAlreadyConnected[] =
    "\xcc\xe1\xca\xbe\xa3\xba\xb5\xb1\xc7\xb0\xd2\xd1\xbe\xad\xc1\xac\xbd\xd3\xa3\xac\xbd\xab\xd6\xd8\xd0\xc2"
    "\xb2"
    "\xa6\xba\xc5\xa3\xa1\r\n";
// "提示：正在进行拨号。。。。\r\n"
constexpr char kDialing[] =
    "\xcc\xe1\xca\xbe\xa3\xba\xd5\xfd\xd4\xda\xbd\xf8\xd0\xd0\xb2\xa6\xba\xc5\xa1\xa3\xa1\xa3\xa1\xa3\xa1\xa3"
    "\r\n";
// "提示：拨号成功！\r\n"
constexpr char kDialSucceeded[] = "\xcc\xe1\xca\xbe\xa3\xba\xb2\xa6\xba\xc5\xb3\xc9\xb9\xa6\xa3\xa1\r\n";
// "提示：拨号失败！\r\n"
constexpr char kDialFailed[] = "\xcc\xe1\xca\xbe\xa3\xba\xb2\xa6\xba\xc5\xca\xa7\xb0\xdc\xa3\xa1\r\n";
// "提示：程序将在3秒后自动退出！\r\n"
constexpr char kClosing[] =
    "\xcc\xe1\xca\xbe\xa3\xba\xb3\xcc\xd0\xf2\xbd\xab\xd4\xda"
    "3\xc3\xeb\xba\xf3\xd7\xd4\xb6\xaf\xcd\xcb\xb3\xf6\xa3\xa1\r\n";

// "@n" reads as index 0: the first entry of the phone book.
constexpr char kFirstPhoneBookEntry[] = "@n";
constexpr std::int32_t kClosingPauseMilliseconds = 3000;

const char* or_empty(const char* text) {
  return text != nullptr ? text : "";
}

}  // namespace

void run_dial_sequence(const TextArray& arguments) {
  const char* account = or_empty(arguments.element(1));
  const char* password = or_empty(arguments.element(2));

  Text account_line = concat_texts({kAccountLabel, account, kLineEnd});
  Text password_line = concat_texts({kPasswordLabel, password, kLineEnd});
  write_console_output({account_line, password_line});
  account_line.reset();
  password_line.reset();

  if (is_connected()) {
    write_console_output({kAlreadyConnected});
    hang_up_all();
  }

  write_console_output({kDialing});
  bool connected = dial_entry(kFirstPhoneBookEntry, account, password, true);
  write_console_output({connected ? kDialSucceeded : kDialFailed});
  write_console_output({kClosing});

  pause_with_events(kClosingPauseMilliseconds);
  // The argument array is left to the end of the process, and so is the new connection.
  terminate_program(0);
}

}  // namespace adsl
