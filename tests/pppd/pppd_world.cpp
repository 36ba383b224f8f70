#include "pppd_world.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pppd_test {

using namespace adsl;

PppdWorld::PppdWorld() {
  std::string pattern = (fs::temp_directory_path() / "adsl-pppd-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  root = pattern;
  peers = root / "peers";
  run = root / "run";
  var_run = root / "var-run";
  sys = root / "sys";
  net = root / "net";
  bin = root / "bin";
  record = root / "record";
  fake = bin / "pppd";
  for (const fs::path& dir : {peers, run, sys / "class/net", net, bin, record}) fs::create_directories(dir);
  // On Debian /var/run is a link to /run: the same pid files are seen twice.
  fs::create_directory_symlink(run, var_run);
  std::ofstream(net / "route")
      << "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  std::ofstream(net / "if_inet6");
  fs::copy_file(FAKE_PPPD_BINARY, fake);
  fs::permissions(fake, fs::perms::owner_all);

  peers_text_ = peers.string();
  run_text_ = run.string();
  var_run_text_ = var_run.string();
  sys_text_ = sys.string();
  proc_text_ = "/proc";
  net_text_ = net.string();
  fake_text_ = fake.string();
  roots_.peers_directory = peers_text_.c_str();
  roots_.run_directories[0] = run_text_.c_str();
  roots_.run_directories[1] = var_run_text_.c_str();
  roots_.sysfs_root = sys_text_.c_str();
  roots_.procfs_root = proc_text_.c_str();
  roots_.proc_net_directory = net_text_.c_str();
  roots_.pppd_path = fake_text_.c_str();
  set_scenario({{"mode", "exit"}, {"status", "1"}});
}

PppdWorld::~PppdWorld() {
  for (pid_t pid : live_fakes()) kill(pid, SIGKILL);
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

void PppdWorld::add_peer(const std::string& name, const std::string& content) const {
  std::ofstream(peers / name, std::ios::binary) << content;
}

void PppdWorld::set_scenario(std::map<std::string, std::string> settings) const {
  settings.emplace("run", run.string());
  settings.emplace("sys", sys.string());
  settings.emplace("net", net.string());
  settings.emplace("record", record.string());
  settings.emplace("ifname", "ppp0");
  std::ofstream out(root / "scenario");
  for (const auto& [key, value] : settings) out << key << " " << value << "\n";
}

void PppdWorld::clear_record() const {
  for (const auto& entry : fs::directory_iterator(record)) fs::remove(entry.path());
}

std::string PppdWorld::recorded(const std::string& name) const {
  std::ifstream in(record / name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> PppdWorld::recorded_words(const std::string& name) const {
  std::vector<std::string> words;
  const std::string bytes = recorded(name);
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
    words.push_back(bytes.substr(start, end - start));
  }
  return words;
}

int PppdWorld::fake_starts() const {
  std::ifstream in(record / "calls");
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

std::string PppdWorld::wait_ready(std::chrono::milliseconds limit) const {
  eventually([&] { return fs::exists(record / "ready"); }, limit);
  // The fake writes the file in one go, but a reader may come between creation and the write.
  std::string text;
  eventually([&] { return !(text = recorded("ready")).empty(); }, limit);
  return text;
}

std::vector<pid_t> PppdWorld::live_fakes() const {
  std::vector<pid_t> pids;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    const fs::path exe = fs::read_symlink(entry.path() / "exe", error);
    if (!error && exe == fake && is_live(std::stoi(name))) pids.push_back(std::stoi(name));
  }
  return pids;
}

int PppdWorld::run_fake(const std::vector<std::string>& arguments) const {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(fake.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool is_live(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  const std::size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z' &&
         stat[paren + 2] != 'X';
}

RASDIALPARAMSA dial_params(const std::string& entry, const std::string& number, const std::string& user,
                           const std::string& password) {
  RASDIALPARAMSA params;
  std::memset(&params, 0, sizeof params);
  params.dwSize = sizeof params;
  std::memcpy(params.szEntryName, entry.data(), std::min(entry.size(), sizeof params.szEntryName - 1));
  std::memcpy(params.szPhoneNumber, number.data(), std::min(number.size(), sizeof params.szPhoneNumber - 1));
  std::memcpy(params.szUserName, user.data(), std::min(user.size(), sizeof params.szUserName - 1));
  std::memcpy(params.szPassword, password.data(), std::min(password.size(), sizeof params.szPassword - 1));
  return params;
}

std::vector<std::string> list_entries(RasOperations& ras, DWORD* result) {
  std::vector<RASENTRYNAMEA> listing(38);
  std::memset(listing.data(), 0, listing.size() * sizeof(RASENTRYNAMEA));
  listing[0].dwSize = sizeof(RASENTRYNAMEA);
  DWORD bytes = static_cast<DWORD>(listing.size() * sizeof(RASENTRYNAMEA));
  DWORD count = 0;
  const DWORD answer = ras.RasEnumEntriesA(nullptr, nullptr, listing.data(), &bytes, &count);
  if (result != nullptr) *result = answer;
  std::vector<std::string> names;
  for (DWORD i = 0; answer == ERROR_SUCCESS && i < count; ++i) names.emplace_back(listing[i].szEntryName);
  return names;
}

std::vector<RASCONNA> list_connections(RasOperations& ras, DWORD* result) {
  std::vector<RASCONNA> list(38);
  std::memset(list.data(), 0, list.size() * sizeof(RASCONNA));
  list[0].dwSize = sizeof(RASCONNA);
  DWORD bytes = static_cast<DWORD>(list.size() * sizeof(RASCONNA));
  DWORD count = 0;
  const DWORD answer = ras.RasEnumConnectionsA(list.data(), &bytes, &count);
  if (result != nullptr) *result = answer;
  list.resize(answer == ERROR_SUCCESS ? count : 0);
  return list;
}

DWORD state_of(RasOperations& ras, HRASCONN handle, DWORD* result) {
  RASCONNSTATUSA status;
  std::memset(&status, 0, sizeof status);
  status.dwSize = sizeof status;
  const DWORD answer = ras.RasGetConnectStatusA(handle, &status);
  if (result != nullptr) *result = answer;
  return status.rasconnstate;
}

}  // namespace pppd_test
