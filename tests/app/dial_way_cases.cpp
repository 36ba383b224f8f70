#include "dial_way_cases.h"

#include <cstdio>
#include <thread>

#include "ras_simulator.h"
#include "run_program.h"

namespace adsl::testing {

namespace {

std::string banner() {
  return gbk(
      "┏                欢迎使用Qov自动ADSL拨号             ┓\r\n"
      "┠──────────────────────────┨\r\n");
}

// A phone-book entry name with a space and code page 936 bytes, so the record shows it handed over whole.
std::string first_entry() {
  return gbk("宽带 连接");
}

}  // namespace

std::string text_mode(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string dial_way_output(const std::string& account, const std::string& password, bool already_connected,
                            bool dial_succeeded) {
  std::string bytes = banner() + gbk("账号：") + account + "\r\n" + gbk("密码：") + password + "\r\n";
  if (already_connected) bytes += gbk("提示：当前已经连接，将重新拨号！\r\n");
  bytes += gbk("提示：正在进行拨号。。。。\r\n");
  bytes += gbk(dial_succeeded ? "提示：拨号成功！\r\n" : "提示：拨号失败！\r\n");
  bytes += gbk("提示：程序将在3秒后自动退出！\r\n");
  return text_mode(bytes);
}

std::string usage_way_output(const std::string& program_path) {
  return text_mode(banner() + gbk("使用说明：") + program_path +
                   gbk(" ADSL账号 ADSL密码\r\n"
                       "例如：账号为07551234567@163.gd 密码为：DCADCEA 本程序的路径为 d:\\adsl.exe\r\n"
                       "输入命令： d:\\adsl.exe 07551234567@163.gd DCADCEA"));
}

namespace record {

// 38 elements of 416 (RASCONNA) and of 264 (RASENTRYNAMEA) bytes.
std::string enum_connections(int listed) {
  return "RasEnumConnectionsA dwSize=416 lpcb=15808 connections=0 -> 0 lpcb=15808 connections=" +
         std::to_string(listed) + "\n";
}

std::string enum_entries(int listed) {
  return "RasEnumEntriesA reserved=null phonebook=null dwSize=264 lpcb=10032 entries=0 -> 0 lpcb=10032 "
         "entries=" +
         std::to_string(listed) + "\n";
}

std::string dial(const std::string& entry_name, const std::string& user_name, const std::string& password,
                 int result, int handle_after) {
  return "RasDialA extensions=null phonebook=null dwSize=1052 szEntryName=" + sim::escape_bytes(entry_name) +
         " szPhoneNumber= szCallbackNumber= szUserName=" + sim::escape_bytes(user_name) +
         " szPassword=" + sim::escape_bytes(password) +
         " szDomain= dwNotifierType=0 notifier=none hrasconn=null -> " + std::to_string(result) +
         " hrasconn=" + std::to_string(handle_after) + "\n";
}

std::string status(int handle, unsigned rasconnstate) {
  char state[16];
  std::snprintf(state, sizeof state, "0x%x", rasconnstate);
  return "RasGetConnectStatusA hrasconn=" + std::to_string(handle) +
         " dwSize=160 -> 0 rasconnstate=" + state + "\n";
}

std::string status_fails(int handle, int result) {
  return "RasGetConnectStatusA hrasconn=" + std::to_string(handle) + " dwSize=160 -> " +
         std::to_string(result) + "\n";
}

std::string hang_up(int handle, int result) {
  return "RasHangUpA hrasconn=" + std::to_string(handle) + " -> " + std::to_string(result) + "\n";
}

}  // namespace record

std::string scenario_word(const std::string& bytes) {
  return sim::escape_bytes(bytes);
}

std::vector<DialCase> dial_way_cases() {
  using namespace record;
  const std::string entry = first_entry();
  const std::string entries = "entry " + scenario_word(entry) + "\nentry other\n";
  // Code page 936 bytes, a per cent sign that a format string would eat and a backslash.
  const std::string account = gbk("用户") + "07551234567@163.gd";
  const std::string password = "p%d\\w0rd";
  constexpr unsigned kConnected = 0x2000;
  constexpr unsigned kAuthenticate = 0x5;
  constexpr int kInvalidHandle = 6;
  // The user name and password fields hold 256 bytes and a terminating zero.
  const std::string longest_account(256, 'u');
  const std::string longest_password(256, 'p');
  const std::string overlong(300, 'x');

  std::vector<DialCase> cases;
  cases.push_back({"nothing connected, good dial",
                   {account, password},
                   entries,
                   dial_way_output(account, password, false, true),
                   enum_connections(0) + enum_entries(2) + dial(entry, account, password, 0, 1)});
  // Three listed connections, the first connected: each is hung up and waited for until its handle
  // goes, before the phone book is read for the dial. They vanish after 2, 0 and 1 more queries.
  cases.push_back(
      {"connection already up",
       {account, password},
       "connection connected entry " + scenario_word(entry) +
           " vanish-after 2\nconnection disconnected entry other\nconnection authenticate vanish-after 1\n" +
           entries,
       dial_way_output(account, password, true, true),
       enum_connections(3) + status(1, kConnected) + enum_connections(3) + hang_up(1) +
           status(1, kConnected) + status(1, kConnected) + status_fails(1, kInvalidHandle) + hang_up(2) +
           status_fails(2, kInvalidHandle) + hang_up(3) + status(3, kAuthenticate) +
           status_fails(3, kInvalidHandle) + enum_entries(2) + dial(entry, account, password, 0, 4)});
  cases.push_back({"empty phone book",
                   {account, password},
                   "# no entries, no connections\n",
                   dial_way_output(account, password, false, false),
                   enum_connections(0) + enum_entries(0)});
  // RasDialA fails but leaves a handle, which the dialer hangs up.
  cases.push_back({"authentication failure",
                   {account, password},
                   entries + "dial result 691 writes-handle\n",
                   dial_way_output(account, password, false, false),
                   enum_connections(0) + enum_entries(2) + dial(entry, account, password, 691, 1) +
                       hang_up(1) + status_fails(1, kInvalidHandle)});
  cases.push_back({"two empty arguments",
                   {"", ""},
                   entries,
                   dial_way_output("", "", false, true),
                   enum_connections(0) + enum_entries(2) + dial(entry, "", "", 0, 1)});
  cases.push_back(
      {"longest account and password",
       {longest_account, longest_password},
       entries,
       dial_way_output(longest_account, longest_password, false, true),
       enum_connections(0) + enum_entries(2) + dial(entry, longest_account, longest_password, 0, 1)});
  // Refused before the phone book is read: nothing is written into the dial parameters.
  cases.push_back({"overlong account",
                   {overlong, password},
                   entries,
                   dial_way_output(overlong, password, false, false),
                   enum_connections(0)});
  cases.push_back({"overlong password",
                   {account, overlong},
                   entries,
                   dial_way_output(account, overlong, false, false),
                   enum_connections(0)});
  return cases;
}

void run_side_by_side(std::size_t count, const std::function<void(std::size_t)>& job) {
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < count; ++i) threads.emplace_back(job, i);
  for (std::thread& thread : threads) thread.join();
}

}  // namespace adsl::testing
