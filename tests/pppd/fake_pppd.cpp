// A stand-in for pppd. Tests copy it into a world of their own as bin/pppd (so that the system sees a
// process named pppd) and describe what it should do in ../scenario, one "key value" per line:
//   mode     exit | die | hang | up | nodetach-up
//   status   the exit status of mode exit
//   delay_ms how long it dials before it fails (exit)
//   run sys net   the run directory, sysfs root and /proc/net stand-in of the world
//   ifname   the interface of its link
//   record   where it records what it was given
// It records its arguments (argv), the options it read through `file` (options, raw; words, split the
// way pppd splits them), its environment (environ) and its open descriptors (fds), then acts:
//   exit  exits with `status`;  die  is killed by SIGTERM;
//   hang  dials forever: pid file without interface, exit 5 on SIGTERM as pppd does;
//   up    the updetach success: the link comes up, a daemon is forked, the pid files name it, the
//         parent exits 0, the daemon takes the link down and exits 5 on SIGTERM;
//   nodetach-up  the same link without detaching, once the record directory holds `go`.
// It writes `ready` into the record directory once it is in place.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> scenario;
std::string linkname;

std::string setting(const std::string& key, const std::string& fallback = "") {
  auto found = scenario.find(key);
  return found == scenario.end() ? fallback : found->second;
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string read_bytes(const std::string& path) {
  // Read with read(2): a pipe behind /dev/fd has no size to ask for.
  std::string bytes;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return bytes;
  char chunk[4096];
  for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, static_cast<std::size_t>(got));
  close(fd);
  return bytes;
}

/// Splits an options file into words by the syntax pppd documents: white space and '#' comments
/// separate words; single or double quotes group; a backslash escapes one character, with \a \b \f
/// \n \r \s \t, up to three octal digits and \x with up to two hex digits as in C; backslash-newline
/// is dropped.
std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  const auto peek = [&]() { return at < text.size() ? static_cast<unsigned char>(text[at]) : -1; };
  for (;;) {
    // Between words.
    for (;;) {
      const int c = peek();
      if (c == '#') {
        while (peek() != -1 && peek() != '\n') ++at;
      } else if (c == '\\' && at + 1 < text.size() && text[at + 1] == '\n') {
        at += 2;
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
        ++at;
      } else {
        break;
      }
    }
    if (peek() == -1) return words;
    std::string word;
    int quote = 0;
    for (int c; (c = peek()) != -1;) {
      if (c == '\\') {
        ++at;
        const int e = peek();
        if (e == -1) break;
        ++at;
        static const std::map<int, char> simple = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                                   {'r', '\r'}, {'s', ' '},  {'t', '\t'}};
        if (e == '\n') continue;
        if (simple.count(e) != 0) {
          word += simple.at(e);
        } else if (e >= '0' && e <= '7') {
          int value = e - '0';
          for (int n = 1; n < 3 && peek() >= '0' && peek() <= '7'; ++n)
            value = value * 8 + (text[at++] - '0');
          word += static_cast<char>(value);
        } else if (e == 'x') {
          int value = 0;
          for (int n = 0; n < 2 && std::isxdigit(peek()); ++n)
            value = value * 16 + std::stoi(std::string(1, text[at++]), nullptr, 16);
          word += static_cast<char>(value);
        } else {
          word += static_cast<char>(e);
        }
        continue;
      }
      ++at;
      if (quote != 0) {
        if (c == quote) {
          quote = 0;
        } else {
          word += static_cast<char>(c);
        }
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '#') {
        --at;
        break;
      } else {
        word += static_cast<char>(c);
      }
    }
    words.push_back(word);
  }
}

void record(int argc, char** argv) {
  const fs::path dir = setting("record");
  std::string bytes;
  std::string options_file;
  for (int i = 0; i < argc; ++i) {
    bytes.append(argv[i]).push_back('\0');
    if (std::strcmp(argv[i], "file") == 0 && i + 1 < argc) options_file = argv[i + 1];
    if (std::strcmp(argv[i], "linkname") == 0 && i + 1 < argc) linkname = argv[i + 1];
  }
  write_file(dir / "argv", bytes);
  write_file(dir / "environ", read_bytes("/proc/self/environ"));

  // The descriptors as pppd finds them, before this program opens any of its own.
  std::string fds;
  for (int fd = 0; fd < 1024; ++fd) {
    char target[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length < 0) continue;
    fds += std::to_string(fd) + " " + std::string(target, static_cast<std::size_t>(length)) + "\n";
  }
  write_file(dir / "fds", fds);

  if (!options_file.empty()) {
    const std::string options = read_bytes(options_file);
    write_file(dir / "options", options);
    std::string words;
    for (const std::string& word : split_words(options)) words.append(word).push_back('\0');
    write_file(dir / "words", words);
  }
  std::ofstream(dir / "calls", std::ios::app) << getpid() << "\n";
}

fs::path run_file(const std::string& name) {
  return fs::path(setting("run")) / name;
}

void write_pid_files(pid_t pid, bool with_interface) {
  const std::string ifname = setting("ifname", "ppp0");
  if (!linkname.empty()) {
    write_file(run_file("ppp-" + linkname + ".pid"),
               std::to_string(pid) + "\n" + (with_interface ? ifname + "\n" : std::string()));
  }
  if (with_interface) write_file(run_file(ifname + ".pid"), std::to_string(pid) + "\n");
}

/// Edits the route table stand-in under a lock: several fakes may share it.
void edit_routes(const std::string& ifname, bool add) {
  const fs::path path = fs::path(setting("net")) / "route";
  const int lock = open(path.c_str(), O_RDONLY);
  flock(lock, LOCK_EX);
  std::ifstream in(path);
  std::string table;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(ifname + "\t", 0) != 0) table += line + "\n";
  }
  if (add) table += ifname + "\t0100400A\t00000000\t0005\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n";
  write_file(path.string() + ".new", table);
  fs::rename(path.string() + ".new", path);
  flock(lock, LOCK_UN);
  close(lock);
}

void link_up() {
  const std::string ifname = setting("ifname", "ppp0");
  const fs::path interface = fs::path(setting("sys")) / "class/net" / ifname;
  fs::create_directories(interface);
  // As a working ppp interface shows in sysfs: IFF_UP among the flags, a carrier, no operational state.
  write_file(interface / "flags", "0x1091\n");
  write_file(interface / "carrier", "1\n");
  write_file(interface / "operstate", "unknown\n");
  edit_routes(ifname, true);
}

void link_down() {
  const std::string ifname = setting("ifname", "ppp0");
  std::error_code ignored;
  fs::remove_all(fs::path(setting("sys")) / "class/net" / ifname, ignored);
  edit_routes(ifname, false);
  if (!linkname.empty()) fs::remove(run_file("ppp-" + linkname + ".pid"), ignored);
  fs::remove(run_file(ifname + ".pid"), ignored);
}

volatile sig_atomic_t terminated = 0;

void on_terminate(int) {
  terminated = 1;
}

/// From here on SIGTERM is only taken by wait_for_sigterm; a forgotten fake ends by itself after two
/// minutes.
void arm_sigterm() {
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  struct sigaction action = {};
  action.sa_handler = on_terminate;
  sigaction(SIGTERM, &action, nullptr);
  alarm(120);
}

/// Waits for SIGTERM, as pppd does for a hang-up.
void wait_for_sigterm() {
  sigset_t waiting;
  sigemptyset(&waiting);
  while (!terminated) sigsuspend(&waiting);
}

void ready(const std::string& what) {
  write_file(fs::path(setting("record")) / "ready", what);
}

void sleep_ms(const std::string& key) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(setting(key, "0"))));
}

}  // namespace

int main(int argc, char** argv) {
  {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    std::ifstream in(self.parent_path().parent_path() / "scenario");
    for (std::string line; std::getline(in, line);) {
      const std::size_t space = line.find(' ');
      if (space != std::string::npos) scenario[line.substr(0, space)] = line.substr(space + 1);
    }
  }
  record(argc, argv);
  const std::string mode = setting("mode", "exit");

  if (mode == "exit") {
    sleep_ms("delay_ms");
    ready("exit");
    return std::stoi(setting("status", "0"));
  }
  if (mode == "die") {
    signal(SIGTERM, SIG_DFL);
    raise(SIGTERM);
    return 99;
  }
  if (mode == "hang") {
    arm_sigterm();
    write_pid_files(getpid(), false);
    ready("hang");
    wait_for_sigterm();
    link_down();
    return 5;
  }
  if (mode == "nodetach-up") {
    arm_sigterm();
    write_pid_files(getpid(), false);
    // The link comes up when the test says so.
    while (!fs::exists(fs::path(setting("record")) / "go"))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    link_up();
    write_pid_files(getpid(), true);
    ready("up");
    wait_for_sigterm();
    link_down();
    return 5;
  }
  if (mode == "up") {
    arm_sigterm();
    write_pid_files(getpid(), false);
    link_up();
    int go[2];
    if (pipe(go) != 0) return 1;
    const pid_t daemon = fork();
    if (daemon == 0) {
      alarm(120);  // alarms are not inherited across fork
      close(go[1]);
      setsid();
      char byte;
      // Like pppd, the daemon waits until its parent has rewritten the pid files and gone.
      while (read(go[0], &byte, 1) < 0 && errno == EINTR) {
      }
      close(go[0]);
      wait_for_sigterm();
      link_down();
      return 5;
    }
    write_pid_files(daemon, true);
    ready("up " + std::to_string(daemon));
    close(go[1]);
    return 0;
  }
  return 1;
}
