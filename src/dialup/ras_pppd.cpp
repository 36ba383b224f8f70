// The RAS operations over pppd 2.4.9 (Debian's ppp package).
//
// Facts of pppd this file relies on, checked against its sources and manual page:
// - Options are taken in order: /etc/ppp/options, then the command line, where `call NAME` reads
//   /etc/ppp/peers/NAME on the spot and `file F` reads F on the spot. All of them carry the priority of
//   the command line, so an option given after `call` replaces the peer's value of it.
// - In an options file a word is split by pppd's own syntax: white space and '#' end a word, a
//   backslash starts an escape (`\x..`, octal, `\n` ...), quotes group. Inside double quotes only the
//   backslash and the closing quote are special.
// - `updetach` keeps pppd in the foreground until the first network protocol is up, then it forks,
//   rewrites its pid files with the daemon's pid and exits 0; a failure before that makes it exit
//   with its status. `persist` redials after a failed attempt until `maxfail` consecutive attempts
//   have failed (default 10, 30 s apart), so `maxfail 1` after `call` ends a failed dial at once.
// - `linkname L` makes pppd write /var/run/ppp-L.pid: its pid, and once the unit is known a second
//   line with the interface name. /var/run/pppN.pid holds just the pid of the pppd of pppN.
// - pppd never closes a descriptor it inherits, and writes its log to standard output until it
//   detaches.
#include "dialup/ras_pppd.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "services/lasting_instance.h"

namespace adsl {

using namespace pppd_ras_codes;

namespace {

// pppd keeps the user name and the password in buffers of 256 bytes, zero included, and silently cuts
// anything longer; a cut password would be sent wrong, so longer ones are refused.
constexpr std::size_t kMaxCredentialLength = 255;
// Linux interface names hold at most 15 bytes.
constexpr std::size_t kMaxInterfaceName = 15;
// The descriptor on which pppd reads our options.
constexpr int kOptionsDescriptor = 3;
constexpr const char kOptionsFile[] = "/dev/fd/3";
// The message of a RasDialFunc, as Windows sends it.
constexpr std::uint32_t kRasDialEvent = 0xCCCD;
// How often a watcher looks at a notified dial.
constexpr long kWatchIntervalNanoseconds = 100L * 1000L * 1000L;

// A phone number is dialed through Debian's default peer, whose template runs this chat script with
// the number as chat's telephone number (the script sends ATDT\T).
constexpr const char kPhoneNumberPeer[] = "provider";
constexpr const char kChatCommand[] = "/usr/sbin/chat -v -f /etc/chatscripts/pap -T ";

// pppd's scripts get their environment from pppd; ours is not theirs to see.
const char* const kPppdEnvironment[] = {"PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                                        nullptr};

constexpr int kWatchFree = 0;
constexpr int kWatchRunning = 1;
constexpr int kWatchFinished = 2;

/// Appends texts into a fixed buffer, always zero-terminated; remembers whether anything was cut.
class TextBuilder {
 public:
  TextBuilder(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {
    buffer_[0] = '\0';
  }
  TextBuilder& add(const char* text, std::size_t count) {
    if (length_ + count >= capacity_) {
      cut_ = true;
      count = length_ + 1 < capacity_ ? capacity_ - 1 - length_ : 0;
    }
    std::memcpy(buffer_ + length_, text, count);
    length_ += count;
    buffer_[length_] = '\0';
    return *this;
  }
  TextBuilder& add(const char* text) { return add(text, std::strlen(text)); }
  TextBuilder& add_number(unsigned long long value) {
    char digits[24];
    // 24 bytes hold any 64-bit number, so the result needs no check.
    (void)std::snprintf(digits, sizeof digits, "%llu", value);
    return add(digits);
  }
  bool complete() const { return !cut_; }
  std::size_t length() const { return length_; }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool cut_ = false;
};

using Path = char[4096];

/// Reads up to `capacity - 1` bytes of a small file and zero-terminates them; -1 when it cannot be read.
long read_small_file(const char* path, char* buffer, std::size_t capacity) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::size_t length = 0;
  while (length + 1 < capacity) {
    const ssize_t got = read(fd, buffer + length, capacity - 1 - length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      close(fd);
      return -1;
    }
    if (got == 0) break;
    length += static_cast<std::size_t>(got);
  }
  close(fd);
  buffer[length] = '\0';
  return static_cast<long>(length);
}

/// Hands the lines of a file of any length to `visit` (without the line end), each cut to 511 bytes.
template <typename Visit>
bool for_each_line(const char* path, Visit visit) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[4096];
  char line[512];
  std::size_t line_length = 0;
  bool stop = false;
  while (!stop) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t i = 0; i < got && !stop; ++i) {
      if (chunk[i] == '\n') {
        line[line_length] = '\0';
        stop = visit(line);
        line_length = 0;
      } else if (line_length + 1 < sizeof line) {
        line[line_length++] = chunk[i];
      }
    }
  }
  if (!stop && line_length > 0) {
    line[line_length] = '\0';
    visit(line);
  }
  close(fd);
  return true;
}

bool ends_with(const char* text, std::size_t length, const char* suffix) {
  const std::size_t suffix_length = std::strlen(suffix);
  return length >= suffix_length && std::memcmp(text + length - suffix_length, suffix, suffix_length) == 0;
}

/// Copies a zero-terminated text into a zero-filled field, which it must fit.
template <std::size_t Width>
void copy_field(char (&field)[Width], const char* text) {
  std::memset(field, 0, Width);
  std::size_t length = std::strlen(text);
  if (length >= Width) length = Width - 1;
  std::memcpy(field, text, length);
}

/// The length of a text in a fixed field, or -1 when the field holds no terminating zero.
template <std::size_t Width>
long field_length(const char (&field)[Width]) {
  const void* end = std::memchr(field, '\0', Width);
  return end == nullptr ? -1 : static_cast<const char*>(end) - field;
}

// ---------------------------------------------------------------------------------------------------
// Phone book

/// Whether a file name of the peers directory is listed: no hidden files, no editor or package
/// backups, and only names an entry name can hold.
bool is_listed_name(const char* name) {
  const std::size_t length = std::strlen(name);
  // A name with a slash is no file of the directory; pppd would read it as a path.
  if (length == 0 || length > RAS_MaxEntryName || name[0] == '.' || std::strchr(name, '/') != nullptr)
    return false;
  if (ends_with(name, length, "~") || ends_with(name, length, ".bak") || ends_with(name, length, ".orig")) {
    return false;
  }
  return std::strstr(name, ".dpkg-") == nullptr && std::strstr(name, ".ucf-") == nullptr;
}

/// Whether `name` is a listed name of a regular file (a link to one counts, as pppd follows it).
bool is_entry_file(int directory, const char* name) {
  struct stat status;
  return is_listed_name(name) && fstatat(directory, name, &status, 0) == 0 && S_ISREG(status.st_mode);
}

/// Whether `name` is an entry of the phone book now.
bool is_phone_book_entry(const PppdRoots& roots, const char* name) {
  const int directory = open(roots.peers_directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  const bool found = is_entry_file(directory, name);
  close(directory);
  return found;
}

/// Inserts `name` into the first `count` elements of `entries`, kept in byte order of names.
void insert_entry(RASENTRYNAMEA* entries, DWORD count, const char* name) {
  DWORD at = 0;
  while (at < count && std::strcmp(entries[at].szEntryName, name) < 0) ++at;
  std::memmove(&entries[at + 1], &entries[at], (count - at) * sizeof(RASENTRYNAMEA));
  entries[at].dwSize = sizeof(RASENTRYNAMEA);
  copy_field(entries[at].szEntryName, name);
}

// ---------------------------------------------------------------------------------------------------
// Processes

/// A pppd process: its pid and its start time (clock ticks after boot), which tells it from a later
/// process that got the same pid.
struct PppdProcess {
  pid_t pid = 0;
  std::uint64_t start_time = 0;
};

/// Reads a strictly decimal pid (1 to INT_MAX) that ends the text or its first line.
bool parse_pid(const char* text, const char** rest, pid_t& pid) {
  unsigned long long value = 0;
  std::size_t digits = 0;
  for (; text[digits] >= '0' && text[digits] <= '9'; ++digits) {
    if (digits == 10) return false;
    value = value * 10 + static_cast<unsigned>(text[digits] - '0');
  }
  if (digits == 0 || value == 0 || value > INT_MAX) return false;
  const char end = text[digits];
  if (end != '\0' && end != '\n') return false;
  pid = static_cast<pid_t>(value);
  *rest = end == '\n' ? text + digits + 1 : text + digits;
  return true;
}

/// Whether `pid` is a live pppd (not a zombie), and its start time. The name is checked twice: the
/// command name pppd gave itself and the program file, when this process may read it.
bool read_live_pppd(const PppdRoots& roots, pid_t pid, PppdProcess& process) {
  if (pid <= 0) return false;
  char buffer[1024];
  Path path;
  TextBuilder(path, sizeof path)
      .add(roots.procfs_root)
      .add("/")
      .add_number(static_cast<unsigned>(pid))
      .add("/stat");
  if (read_small_file(path, buffer, sizeof buffer) <= 0) return false;
  // "pid (comm) state ppid ..." where comm may itself hold spaces and parentheses.
  const char* fields = std::strrchr(buffer, ')');
  if (fields == nullptr || fields[1] != ' ') return false;
  const char state = fields[2];
  if (state == 'Z' || state == 'X' || state == 'x' || state == '\0') return false;
  // The start time is field 22; the state is field 3.
  const char* field = fields + 2;
  for (int index = 3; index < 22; ++index) {
    field = std::strchr(field, ' ');
    if (field == nullptr) return false;
    ++field;
  }
  char* end = nullptr;
  const unsigned long long start_time = std::strtoull(field, &end, 10);
  if (end == field) return false;

  TextBuilder(path, sizeof path)
      .add(roots.procfs_root)
      .add("/")
      .add_number(static_cast<unsigned>(pid))
      .add("/comm");
  if (read_small_file(path, buffer, sizeof buffer) < 0 || std::strcmp(buffer, "pppd\n") != 0) return false;

  TextBuilder(path, sizeof path)
      .add(roots.procfs_root)
      .add("/")
      .add_number(static_cast<unsigned>(pid))
      .add("/exe");
  const ssize_t length = readlink(path, buffer, sizeof buffer - 1);
  if (length >= 0) {
    buffer[length] = '\0';
    const char* slash = std::strrchr(buffer, '/');
    const char* base = slash != nullptr ? slash + 1 : buffer;
    // A pppd whose program was replaced by a package upgrade while it ran is still a pppd.
    if (std::strcmp(base, "pppd") != 0 && std::strcmp(base, "pppd (deleted)") != 0) return false;
  } else if (errno != EACCES && errno != EPERM) {
    return false;
  }
  process.pid = pid;
  process.start_time = start_time;
  return true;
}

HRASCONN handle_of(const PppdProcess& process) {
  const std::uint64_t value =
      static_cast<std::uint32_t>(process.pid) | ((process.start_time & 0xffffffffu) << 32);
  return reinterpret_cast<HRASCONN>(static_cast<std::uintptr_t>(value));
}

/// The live pppd a handle names: same pid and, where the handle is wide enough to carry it, same start
/// time.
bool pppd_of_handle(const PppdRoots& roots, HRASCONN handle, PppdProcess& process) {
  const std::uint64_t value = reinterpret_cast<std::uintptr_t>(handle);
  const std::uint32_t pid = static_cast<std::uint32_t>(value & 0xffffffffu);
  if (pid == 0 || pid > INT_MAX || !read_live_pppd(roots, static_cast<pid_t>(pid), process)) return false;
  if (sizeof(std::uintptr_t) >= 8 && (process.start_time & 0xffffffffu) != (value >> 32)) return false;
  return true;
}

/// Whether the bytes can be a Linux interface name; whatever a file says, no name that could climb out
/// of sysfs is used.
bool is_interface_name(const char* name, std::size_t length) {
  if (length == 0 || length > kMaxInterfaceName) return false;
  if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.')) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    if (byte <= ' ' || byte == '/' || byte == ':' || byte == 0x7f) return false;
  }
  return true;
}

/// Calls `visit(pid, interface)` for every pid file of pppd in the run directories: ppp-LINK.pid
/// gives its interface on its second line, pppN.pid is named after it. `interface` is empty when the
/// file does not tell it.
template <typename Visit>
void for_each_pid_file(const PppdRoots& roots, Visit visit) {
  for (const char* run_directory : roots.run_directories) {
    if (run_directory == nullptr) continue;
    DIR* directory = opendir(run_directory);
    if (directory == nullptr) continue;
    while (const dirent* entry = readdir(directory)) {
      const char* name = entry->d_name;
      const std::size_t length = std::strlen(name);
      if (length <= 7 || std::strncmp(name, "ppp", 3) != 0 || !ends_with(name, length, ".pid")) continue;
      Path path;
      char content[256];
      if (!TextBuilder(path, sizeof path).add(run_directory).add("/").add(name).complete() ||
          read_small_file(path, content, sizeof content) <= 0) {
        continue;
      }
      const char* rest = nullptr;
      pid_t pid = 0;
      if (!parse_pid(content, &rest, pid)) continue;
      // The second line names the interface; a pppN.pid file is named after it.
      const char* line_end = std::strchr(rest, '\n');
      std::size_t interface_length =
          line_end != nullptr ? static_cast<std::size_t>(line_end - rest) : std::strlen(rest);
      const char* interface_name = rest;
      if (interface_length == 0 && name[3] != '-') {
        interface_name = name;
        interface_length = length - 4;
      }
      char interface[kMaxInterfaceName + 1] = "";
      if (is_interface_name(interface_name, interface_length)) {
        std::memcpy(interface, interface_name, interface_length);
        interface[interface_length] = '\0';
      }
      visit(pid, interface);
    }
    closedir(directory);
  }
}

// ---------------------------------------------------------------------------------------------------
// Interfaces

/// Copies field `index` (from 0) of a line of white-space separated fields; false when there is none
/// or it does not fit.
bool field_of(const char* line, int index, char* field, std::size_t capacity) {
  for (int i = 0;; ++i) {
    while (*line == ' ' || *line == '\t') ++line;
    if (*line == '\0') return false;
    const std::size_t length = std::strcspn(line, " \t");
    if (i == index) {
      if (length >= capacity) return false;
      std::memcpy(field, line, length);
      field[length] = '\0';
      return true;
    }
    line += length;
  }
}

enum class LinkState { no_interface, interface_down, connected };

/// Whether an interface is up, with its link working, and has an address. The address comes from procfs, not
/// from a socket or netlink: an IPv4 address shows as the route the kernel adds towards the peer of a
/// point-to-point link, an IPv6 one in if_inet6.
LinkState interface_state(const PppdRoots& roots, const char* interface) {
  if (interface[0] == '\0') return LinkState::no_interface;
  Path path;
  char text[64];
  TextBuilder(path, sizeof path).add(roots.sysfs_root).add("/class/net/").add(interface).add("/flags");
  if (read_small_file(path, text, sizeof text) <= 0) return LinkState::no_interface;
  // The flags are the administrative ones: IFF_RUNNING is not among them in sysfs. Whether the link
  // works shows in the carrier (readable only while the interface is up) and in the operational state,
  // which ppp interfaces leave "unknown" while they work; "down", "dormant" and the like mean they do
  // not.
  constexpr unsigned long kUp = 0x1;
  if ((std::strtoul(text, nullptr, 16) & kUp) == 0) return LinkState::interface_down;
  TextBuilder(path, sizeof path).add(roots.sysfs_root).add("/class/net/").add(interface).add("/carrier");
  if (read_small_file(path, text, sizeof text) <= 0 || std::strcmp(text, "1\n") != 0) {
    return LinkState::interface_down;
  }
  TextBuilder(path, sizeof path).add(roots.sysfs_root).add("/class/net/").add(interface).add("/operstate");
  if (read_small_file(path, text, sizeof text) > 0 && std::strcmp(text, "up\n") != 0 &&
      std::strcmp(text, "unknown\n") != 0) {
    return LinkState::interface_down;
  }

  bool has_address = false;
  TextBuilder(path, sizeof path).add(roots.proc_net_directory).add("/route");
  bool header = true;
  for_each_line(path, [&](const char* line) {
    if (header) {
      header = false;
      return false;
    }
    // Iface Destination Gateway Flags ...; flag 0x1 is RTF_UP.
    char name[32];
    char flags_text[16];
    if (field_of(line, 0, name, sizeof name) && std::strcmp(name, interface) == 0 &&
        field_of(line, 3, flags_text, sizeof flags_text) &&
        (std::strtoul(flags_text, nullptr, 16) & 0x1) != 0) {
      has_address = true;
    }
    return has_address;
  });
  if (!has_address) {
    TextBuilder(path, sizeof path).add(roots.proc_net_directory).add("/if_inet6");
    for_each_line(path, [&](const char* line) {
      // address index prefix-length scope flags name
      char name[32];
      has_address = field_of(line, 5, name, sizeof name) && std::strcmp(name, interface) == 0;
      return has_address;
    });
  }
  return has_address ? LinkState::connected : LinkState::interface_down;
}

/// The state of the link of a live pppd, and the name of its interface ("" when none is known).
DWORD link_state(const PppdRoots& roots, pid_t pid, char (&interface)[kMaxInterfaceName + 1]) {
  LinkState best = LinkState::no_interface;
  interface[0] = '\0';
  for_each_pid_file(roots, [&](pid_t file_pid, const char* name) {
    if (file_pid != pid || name[0] == '\0') return;
    const LinkState state = interface_state(roots, name);
    if (interface[0] == '\0' || state > best) {
      best = state;
      std::strcpy(interface, name);
    }
  });
  switch (best) {
    case LinkState::connected:
      return RASCS_Connected;
    case LinkState::interface_down:
      return RASCS_DeviceConnected;
    case LinkState::no_interface:
      break;
  }
  return RASCS_ConnectDevice;
}

/// The peer a pppd was called with (the word after `call` in its arguments), or "".
void called_peer(const PppdRoots& roots, pid_t pid, char (&peer)[RAS_MaxEntryName + 1]) {
  peer[0] = '\0';
  Path path;
  char arguments[4096];
  TextBuilder(path, sizeof path)
      .add(roots.procfs_root)
      .add("/")
      .add_number(static_cast<unsigned>(pid))
      .add("/cmdline");
  const long length = read_small_file(path, arguments, sizeof arguments);
  if (length <= 0) return;
  const char* end = arguments + length;
  for (const char* argument = arguments; argument < end; argument += std::strlen(argument) + 1) {
    const char* next = argument + std::strlen(argument) + 1;
    if (std::strcmp(argument, "call") == 0 && next < end) {
      copy_field(peer, next);
      return;
    }
  }
}

/// Finds the live pppd whose pid file for `linkname` names it, or failing that whose arguments carry
/// that link name (pppd may be unable to write pid files, yet it runs).
bool find_linked_pppd(const PppdRoots& roots, const char* linkname, PppdProcess& process,
                      bool scan_processes) {
  for (const char* run_directory : roots.run_directories) {
    if (run_directory == nullptr) continue;
    Path path;
    char content[256];
    const char* rest = nullptr;
    pid_t pid = 0;
    if (TextBuilder(path, sizeof path).add(run_directory).add("/ppp-").add(linkname).add(".pid").complete() &&
        read_small_file(path, content, sizeof content) > 0 && parse_pid(content, &rest, pid) &&
        read_live_pppd(roots, pid, process)) {
      return true;
    }
  }
  if (!scan_processes) return false;
  DIR* directory = opendir(roots.procfs_root);
  if (directory == nullptr) return false;
  bool found = false;
  while (const dirent* entry = readdir(directory)) {
    const char* rest = nullptr;
    pid_t pid = 0;
    if (!parse_pid(entry->d_name, &rest, pid) || !read_live_pppd(roots, pid, process)) continue;
    Path path;
    char arguments[4096];
    TextBuilder(path, sizeof path).add(roots.procfs_root).add("/").add(entry->d_name).add("/cmdline");
    const long length = read_small_file(path, arguments, sizeof arguments);
    const char* end = arguments + (length > 0 ? length : 0);
    for (const char* argument = arguments; argument < end; argument += std::strlen(argument) + 1) {
      const char* next = argument + std::strlen(argument) + 1;
      if (std::strcmp(argument, "linkname") == 0 && next < end && std::strcmp(next, linkname) == 0) {
        found = true;
      }
    }
    if (found) break;
  }
  closedir(directory);
  return found;
}

// ---------------------------------------------------------------------------------------------------
// Starting pppd

/// The RAS code of the same meaning as the way pppd ended.
DWORD ras_code_for_pppd(int wait_status) {
  if (WIFSIGNALED(wait_status)) {
    const int signal_number = WTERMSIG(wait_status);
    const bool ended_by_someone = signal_number == SIGTERM || signal_number == SIGINT ||
                                  signal_number == SIGHUP || signal_number == SIGKILL;
    return ended_by_someone ? ERROR_USER_DISCONNECTION : ERROR_UNKNOWN;
  }
  switch (WEXITSTATUS(wait_status)) {
    case 0:   // ended without a link
    case 12:  // idle
    case 13:  // connect time limit
    case 14:  // callback
    case 15:  // no echo replies
    case 16:  // modem hang-up
      return ERROR_DISCONNECTION;
    case 1:   // fatal error
    case 2:   // options
    case 3:   // not root
    case 4:   // no PPP in the kernel
    case 9:   // pty program
    case 11:  // the peer failed to authenticate itself: our configuration asks for it
    case 18:  // init script
      return ERROR_FROM_DEVICE;
    case 5:  // SIGINT, SIGTERM or SIGHUP
      return ERROR_USER_DISCONNECTION;
    case 6:  // lock
    case 7:  // serial port
      return ERROR_PORT_NOT_AVAILABLE;
    case 8:  // connect script or PPPoE discovery
      return ERROR_NO_ANSWER;
    case 10:  // negotiation
      return ERROR_PPP_LCP_TERMINATED;
    case 17:  // loopback
      return ERROR_PPP_LOOPBACK_DETECTED;
    case 19:  // we failed to authenticate
      return ERROR_AUTHENTICATION_FAILURE;
    default:
      return ERROR_UNKNOWN;
  }
}

bool write_all(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t written = write(fd, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

void close_if_open(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

/// Runs pppd with `arguments`, the options text readable on descriptor 3, standard input from
/// /dev/null and its output where the roots say. Every other descriptor is closed in pppd, and it
/// starts with a clean environment, default signal handling and no blocked signals. Returns its pid,
/// or -1 with `error` set when it could not be started (pppd missing included).
pid_t start_pppd(const PppdRoots& roots, const char* const* arguments, const char* options, int& error) {
  int options_pipe[2] = {-1, -1};
  int exec_pipe[2] = {-1, -1};
  int null_device = -1;
  pid_t pid = -1;
  error = 0;
  // The options are far below a pipe's capacity, so they are all in it before pppd starts, and our
  // end is closed: pppd reads them to their end.
  if (pipe2(options_pipe, O_CLOEXEC) != 0 || !write_all(options_pipe[1], options, std::strlen(options)) ||
      pipe2(exec_pipe, O_CLOEXEC) != 0 || (null_device = open("/dev/null", O_RDWR | O_CLOEXEC)) < 0) {
    error = errno != 0 ? errno : EIO;
  }
  close_if_open(options_pipe[1]);
  const int output = roots.pppd_output >= 0 ? roots.pppd_output : null_device;

  sigset_t all_signals;
  sigset_t previous_signals;
  sigfillset(&all_signals);
  if (error == 0) {
    // No handler of ours may run in the child between fork and exec.
    pthread_sigmask(SIG_SETMASK, &all_signals, &previous_signals);
    pid = fork();
    if (pid == 0) {
      // Only async-signal-safe calls from here on. Everything moves above 9 first, so that placing
      // descriptors 0 to 3 cannot overwrite one still to be placed.
      const int options_fd = fcntl(options_pipe[0], F_DUPFD_CLOEXEC, 10);
      const int output_fd = fcntl(output, F_DUPFD_CLOEXEC, 10);
      const int null_fd = fcntl(null_device, F_DUPFD_CLOEXEC, 10);
      const int exec_fd = fcntl(exec_pipe[1], F_DUPFD_CLOEXEC, 10);
      if (options_fd < 0 || output_fd < 0 || null_fd < 0 || exec_fd < 0 || dup2(null_fd, 0) != 0 ||
          dup2(output_fd, 1) != 1 || dup2(output_fd, 2) != 2 ||
          dup2(options_fd, kOptionsDescriptor) != kOptionsDescriptor) {
        _exit(127);
      }
      // Descriptors opened elsewhere in this process without close-on-exec must not reach pppd, which
      // would keep them for the whole link.
      if (close_range(kOptionsDescriptor + 1, static_cast<unsigned>(exec_fd) - 1, 0) != 0 ||
          close_range(static_cast<unsigned>(exec_fd) + 1, ~0u, 0) != 0) {
        struct rlimit limit;
        const int top = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                            ? static_cast<int>(limit.rlim_cur)
                            : 65536;
        for (int fd = kOptionsDescriptor + 1; fd < top; ++fd) {
          if (fd != exec_fd) close(fd);
        }
      }
      struct sigaction default_action;
      std::memset(&default_action, 0, sizeof default_action);
      default_action.sa_handler = SIG_DFL;
      for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        sigaction(signal_number, &default_action, nullptr);
      }
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execve(roots.pppd_path, const_cast<char* const*>(arguments),
             const_cast<char* const*>(kPppdEnvironment));
      const int exec_error = errno;
      write_all(exec_fd, reinterpret_cast<const char*>(&exec_error), sizeof exec_error);
      _exit(127);
    }
    if (pid < 0) error = errno;
    pthread_sigmask(SIG_SETMASK, &previous_signals, nullptr);
  }
  close_if_open(options_pipe[0]);
  close_if_open(exec_pipe[1]);
  close_if_open(null_device);
  if (pid > 0) {
    // The pipe closes without a word when exec succeeds; otherwise the child reports errno.
    int exec_error = 0;
    ssize_t got;
    do {
      got = read(exec_pipe[0], &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    if (got != 0) {
      error = got == static_cast<ssize_t>(sizeof exec_error) ? exec_error : EIO;
      int ignored;
      while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
      }
      pid = -1;
    }
  }
  close_if_open(exec_pipe[0]);
  return pid;
}

/// Waits for a child; its wait status.
int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

void pause_briefly() {
  struct timespec interval = {0, kWatchIntervalNanoseconds};
  while (nanosleep(&interval, &interval) != 0 && errno == EINTR) {
  }
}

/// Whether a phone number can be handed to chat within single quotes of the shell that pppd runs the
/// connect command with: dial digits, letters for dial modifiers and a few separators only.
bool is_dialable_number(const char* number) {
  if (number[0] == '\0') return false;
  for (const char* byte = number; *byte != '\0'; ++byte) {
    const char c = *byte;
    const bool allowed = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         std::strchr(" *#+,-().!@", c) != nullptr;
    if (!allowed) return false;
  }
  return true;
}

/// Overwrites a buffer that held a password; the stores are volatile, so they are not dropped as dead.
void wipe(char* buffer, std::size_t size) {
  volatile char* bytes = buffer;
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
}

}  // namespace

bool quote_pppd_word(const char* bytes, char* out, std::size_t capacity) {
  if (capacity == 0) return false;
  TextBuilder word(out, capacity);
  word.add("\"");
  for (const char* byte = bytes; *byte != '\0'; ++byte) {
    if (*byte == '\\' || *byte == '"') word.add("\\");
    word.add(byte, 1);
  }
  word.add("\"");
  return word.complete();
}

PppdRoots system_pppd_roots() {
  PppdRoots roots{};
  roots.peers_directory = "/etc/ppp/peers";
  roots.run_directories[0] = "/run";
  roots.run_directories[1] = "/var/run";
  roots.sysfs_root = "/sys";
  roots.procfs_root = "/proc";
  roots.proc_net_directory = "/proc/net";
  roots.pppd_path = "/usr/sbin/pppd";
  roots.pppd_output = -1;
  return roots;
}

PppdRasOperations::PppdRasOperations(const PppdRoots& roots) : roots_(roots) {}

PppdRasOperations::~PppdRasOperations() {
  for (Watch& watch : watches_) {
    if (watch.state.load() != kWatchFree) pthread_join(watch.thread, nullptr);
  }
}

DWORD PppdRasOperations::RasEnumEntriesA(const char* /*reserved*/, const char* lpszPhonebook,
                                         RASENTRYNAMEA* lprasentryname, DWORD* lpcb, DWORD* lpcEntries) {
  if (lpcb == nullptr || lpcEntries == nullptr) return ERROR_INVALID_PARAMETER;
  // There is one phone book, the peers directory; a phone-book file of Windows names nothing here.
  if (lpszPhonebook != nullptr) return ERROR_CANNOT_OPEN_PHONEBOOK;
  if (lprasentryname != nullptr && lprasentryname->dwSize != sizeof(RASENTRYNAMEA)) return ERROR_INVALID_SIZE;

  DIR* directory = opendir(roots_.peers_directory);
  if (directory == nullptr) {
    // No peers directory is an empty phone book; one we may not read is a phone book we cannot open.
    if (errno != ENOENT && errno != ENOTDIR) return ERROR_CANNOT_OPEN_PHONEBOOK;
    *lpcb = 0;
    *lpcEntries = 0;
    return ERROR_SUCCESS;
  }
  // One pass: names are sorted into the caller's elements while they fit and counted all along, so a
  // phone book that changes meanwhile still yields one consistent answer.
  const DWORD capacity = lprasentryname != nullptr ? *lpcb / sizeof(RASENTRYNAMEA) : 0;
  DWORD count = 0;
  while (const dirent* entry = readdir(directory)) {
    if (!is_entry_file(dirfd(directory), entry->d_name)) continue;
    if (count < capacity) insert_entry(lprasentryname, count, entry->d_name);
    ++count;
  }
  closedir(directory);
  *lpcb = count * sizeof(RASENTRYNAMEA);
  *lpcEntries = count;
  return count > capacity ? ERROR_BUFFER_TOO_SMALL : ERROR_SUCCESS;
}

DWORD PppdRasOperations::RasDialA(const void* /*lpRasDialExtensions*/, const char* lpszPhonebook,
                                  RASDIALPARAMSA* lpRasDialParams, DWORD dwNotifierType,
                                  RasDialNotifier lpvNotifier, HRASCONN* lphRasConn) {
  if (lpRasDialParams == nullptr || lphRasConn == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpszPhonebook != nullptr) return ERROR_CANNOT_OPEN_PHONEBOOK;
  if (lpRasDialParams->dwSize != sizeof(RASDIALPARAMSA)) return ERROR_INVALID_SIZE;
  // Only the RasDialFunc of type 0 is known here.
  if (lpvNotifier != nullptr && dwNotifierType != 0) return ERROR_INVALID_PARAMETER;
  return dial(*lpRasDialParams, lpvNotifier, lphRasConn);
}

DWORD PppdRasOperations::dial(const RASDIALPARAMSA& params, RasDialNotifier notifier, HRASCONN* lphRasConn) {
  const long entry_length = field_length(params.szEntryName);
  const long number_length = field_length(params.szPhoneNumber);
  const long user_length = field_length(params.szUserName);
  const long password_length = field_length(params.szPassword);
  if (entry_length < 0 || number_length < 0 || user_length < 0 || password_length < 0 ||
      static_cast<std::size_t>(user_length) > kMaxCredentialLength ||
      static_cast<std::size_t>(password_length) > kMaxCredentialLength) {
    return ERROR_INVALID_PARAMETER;
  }
  const bool by_number = entry_length == 0;
  const char* peer = by_number ? kPhoneNumberPeer : params.szEntryName;
  if (by_number && number_length == 0) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  if (by_number && !is_dialable_number(params.szPhoneNumber)) return ERROR_INVALID_PARAMETER;
  // Only an entry of the phone book is dialed; a phone number needs the peer that says which modem.
  if (!is_phone_book_entry(roots_, peer)) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;

  // An empty user name or password is not given at all, so that the peer's own (its `user` line, the
  // secrets files) applies, as Windows falls back to the entry's saved credentials.
  char options[2 * (2 * (kMaxCredentialLength + 1)) + 64];
  TextBuilder text(options, sizeof options);
  char word[2 * kMaxCredentialLength + 3];
  bool complete = true;
  if (user_length > 0) {
    complete = quote_pppd_word(params.szUserName, word, sizeof word) && complete;
    text.add("user ").add(word).add("\n");
  }
  if (password_length > 0) {
    complete = quote_pppd_word(params.szPassword, word, sizeof word) && complete;
    text.add("password ").add(word).add("\n");
  }
  wipe(word, sizeof word);
  // Never a dial with credentials cut short.
  if (!complete || !text.complete()) {
    wipe(options, sizeof options);
    return ERROR_INVALID_PARAMETER;
  }

  Watch* watch = nullptr;
  if (notifier != nullptr) {
    watch = claim_watch();
    if (watch == nullptr) {
      wipe(options, sizeof options);
      return ERROR_PORT_NOT_AVAILABLE;
    }
  }

  // A link name of our own finds the daemon after pppd has detached; one a live pppd still uses (left
  // by an earlier process with our pid) is skipped.
  char linkname[64];
  PppdProcess holder;
  do {
    TextBuilder(linkname, sizeof linkname)
        .add("adsl-")
        .add_number(static_cast<unsigned>(getpid()))
        .add("-")
        .add_number(++dials_);
  } while (find_linked_pppd(roots_, linkname, holder, false));
  char connect[sizeof kChatCommand + RAS_MaxPhoneNumber + 2];
  TextBuilder(connect, sizeof connect).add(kChatCommand).add("'").add(params.szPhoneNumber).add("'");

  // `call` comes first: what follows it overrides the peer's own values of the same options.
  const char* arguments[16];
  int count = 0;
  arguments[count++] = roots_.pppd_path;
  arguments[count++] = "call";
  arguments[count++] = peer;
  if (by_number) {
    arguments[count++] = "connect";
    arguments[count++] = connect;
  }
  arguments[count++] = "file";
  arguments[count++] = kOptionsFile;
  arguments[count++] = "maxfail";
  arguments[count++] = "1";
  arguments[count++] = notifier != nullptr ? "nodetach" : "updetach";
  arguments[count++] = "linkname";
  arguments[count++] = linkname;
  arguments[count] = nullptr;

  int start_error = 0;
  const pid_t pid = start_pppd(roots_, arguments, options, start_error);
  wipe(options, sizeof options);
  if (pid < 0) {
    if (watch != nullptr) watch->state.store(kWatchFree);
    return ERROR_FROM_DEVICE;
  }

  if (watch != nullptr) {
    PppdProcess process;
    if (!read_live_pppd(roots_, pid, process)) {
      // It has ended already; it is reaped and its end reported like any other.
      const int status = wait_for(pid);
      last_wait_status_.store(status);
      watch->state.store(kWatchFree);
      return ras_code_for_pppd(status);
    }
    watch->pid = pid;
    watch->notifier = notifier;
    watch->driver = this;
    if (pthread_create(&watch->thread, nullptr, &PppdRasOperations::watch_main, watch) != 0) {
      kill(pid, SIGTERM);
      last_wait_status_.store(wait_for(pid));
      watch->state.store(kWatchFree);
      return ERROR_UNKNOWN;
    }
    *lphRasConn = handle_of(process);
    return ERROR_SUCCESS;
  }

  const int status = wait_for(pid);
  last_wait_status_.store(status);
  if (status != 0) return ras_code_for_pppd(status);
  PppdProcess daemon;
  if (!find_linked_pppd(roots_, linkname, daemon, true)) return ERROR_DISCONNECTION;
  *lphRasConn = handle_of(daemon);
  return ERROR_SUCCESS;
}

PppdRasOperations::Watch* PppdRasOperations::claim_watch() {
  for (Watch& watch : watches_) {
    int state = watch.state.load();
    if (state == kWatchFinished) {
      pthread_join(watch.thread, nullptr);
      watch.state.store(kWatchFree);
      state = kWatchFree;
    }
    if (state == kWatchFree) {
      watch.state.store(kWatchRunning);
      return &watch;
    }
  }
  return nullptr;
}

void* PppdRasOperations::watch_main(void* argument) {
  Watch& watch = *static_cast<Watch*>(argument);
  const PppdRoots& roots = watch.driver->roots_;
  DWORD reported = RASCS_OpenPort;
  watch.notifier(kRasDialEvent, reported, 0);
  bool connected = false;
  int status = 0;
  for (;;) {
    const pid_t ended = waitpid(watch.pid, &status, connected ? 0 : WNOHANG);
    if (ended == watch.pid) break;
    if (ended < 0 && errno != EINTR) {
      status = -1;
      break;
    }
    if (connected) continue;
    char interface[kMaxInterfaceName + 1];
    const DWORD state = link_state(roots, watch.pid, interface);
    if (state != reported) {
      reported = state;
      watch.notifier(kRasDialEvent, state, 0);
      connected = state == RASCS_Connected;
    }
    if (!connected) pause_briefly();
  }
  watch.driver->last_wait_status_.store(status);
  if (!connected) {
    const DWORD error = status == -1 ? ERROR_UNKNOWN : ras_code_for_pppd(status);
    watch.notifier(kRasDialEvent, error == ERROR_AUTHENTICATION_FAILURE ? RASCS_AuthNotify : reported, error);
  }
  watch.state.store(kWatchFinished);
  return nullptr;
}

DWORD PppdRasOperations::RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus) {
  if (lprasconnstatus == nullptr) return ERROR_INVALID_PARAMETER;
  if (lprasconnstatus->dwSize != sizeof(RASCONNSTATUSA)) return ERROR_INVALID_SIZE;
  PppdProcess process;
  if (!pppd_of_handle(roots_, hrasconn, process)) return ERROR_INVALID_HANDLE;
  char interface[kMaxInterfaceName + 1];
  lprasconnstatus->rasconnstate = link_state(roots_, process.pid, interface);
  lprasconnstatus->dwError = 0;
  copy_field(lprasconnstatus->szDeviceType, "ppp");
  copy_field(lprasconnstatus->szDeviceName, interface);
  return ERROR_SUCCESS;
}

DWORD PppdRasOperations::RasEnumConnectionsA(RASCONNA* lprasconn, DWORD* lpcb, DWORD* lpcConnections) {
  if (lpcb == nullptr || lpcConnections == nullptr) return ERROR_INVALID_PARAMETER;
  if (lprasconn != nullptr && lprasconn->dwSize != sizeof(RASCONNA)) return ERROR_INVALID_SIZE;

  // A pppd is usually named by two files (ppp-LINK.pid and pppN.pid), and /var/run is usually /run.
  constexpr DWORD kMaxPppds = 256;
  PppdProcess found[kMaxPppds];
  DWORD count = 0;
  DWORD beyond = 0;
  for_each_pid_file(roots_, [&](pid_t pid, const char*) {
    for (DWORD i = 0; i < count; ++i) {
      if (found[i].pid == pid) return;
    }
    PppdProcess process;
    if (!read_live_pppd(roots_, pid, process)) return;
    if (count == kMaxPppds) {
      ++beyond;
      return;
    }
    DWORD at = count++;
    for (; at > 0 && found[at - 1].pid > pid; --at) found[at] = found[at - 1];
    found[at] = process;
  });

  const DWORD total = count + beyond;
  const DWORD capacity = lprasconn != nullptr ? *lpcb / sizeof(RASCONNA) : 0;
  *lpcb = total * sizeof(RASCONNA);
  *lpcConnections = total;
  if (total > capacity) return ERROR_BUFFER_TOO_SMALL;
  for (DWORD i = 0; i < count; ++i) {
    RASCONNA& connection = lprasconn[i];
    connection.dwSize = sizeof(RASCONNA);
    connection.hrasconn = handle_of(found[i]);
    called_peer(roots_, found[i].pid, connection.szEntryName);
    char interface[kMaxInterfaceName + 1];
    link_state(roots_, found[i].pid, interface);
    copy_field(connection.szDeviceType, "ppp");
    copy_field(connection.szDeviceName, interface);
  }
  return ERROR_SUCCESS;
}

DWORD PppdRasOperations::RasHangUpA(HRASCONN hrasconn) {
  PppdProcess process;
  if (!pppd_of_handle(roots_, hrasconn, process)) return ERROR_INVALID_HANDLE;
  // pppd ends the link on SIGTERM, runs its down scripts and exits; its handle then turns invalid.
  if (kill(process.pid, SIGTERM) != 0) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

namespace {

/// The driver over the system's own places, made by lasting_instance.
struct SystemPppdDriver {
  PppdRasOperations driver{system_pppd_roots()};
};

}  // namespace

RasOperations& system_pppd_ras_operations() {
  return lasting_instance<SystemPppdDriver>().driver;
}

}  // namespace adsl
