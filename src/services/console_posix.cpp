// The standard handles on Linux: descriptors 0 to 2, the controlling terminal for keys read without
// echo, and the arguments that the shell has already split.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "services/command_line.h"
#include "services/console.h"
#include "services/lasting_instance.h"
#include "services/memory.h"
#include "services/platform.h"

namespace adsl {

namespace {

const iconv_t no_converter = reinterpret_cast<iconv_t>(-1);

// What the first use found out about a standard descriptor; it does not change afterwards.
struct Descriptor {
  bool known = false;
  StreamKind kind = StreamKind::character_device;
  bool usable = false;
  // Set for an output terminal whose encoding is not a GBK one: the code page 936 bytes are shown
  // in the terminal's own encoding, as the Windows console shows them through its code page.
  iconv_t converter = no_converter;
  // The first byte of a character that the last write cut off; the next write completes it.
  char held[4] = {};
  std::size_t held_count = 0;
};

// A write to a pipe whose reader has gone raises SIGPIPE, which would end the process. It is blocked
// for the length of one write and, if the write raised it, taken off the thread again, so a closed
// pipe is just a failed write. The process-wide disposition stays as it was, so programs started
// later do not inherit an ignored SIGPIPE.
class BrokenPipeGuard {
 public:
  BrokenPipeGuard() {
    sigemptyset(&pipe_only_);
    sigaddset(&pipe_only_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only_, &previous_);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  BrokenPipeGuard(const BrokenPipeGuard&) = delete;
  BrokenPipeGuard& operator=(const BrokenPipeGuard&) = delete;
  ~BrokenPipeGuard() {
    if (broke_ && !was_pending_) {
      timespec no_wait{};
      while (sigtimedwait(&pipe_only_, nullptr, &no_wait) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  void note_broken_pipe() { broke_ = true; }

 private:
  sigset_t pipe_only_;
  sigset_t previous_;
  bool was_pending_ = false;
  bool broke_ = false;
};

// Every byte, over partial writes and interruptions.
bool write_all(int fd, const char* bytes, std::size_t count, BrokenPipeGuard& guard) {
  while (count > 0) {
    ssize_t written = ::write(fd, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE) guard.note_broken_pipe();
      return false;
    }
    if (written == 0) return false;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

bool is_gbk_codeset(const char* codeset) {
  return strcasecmp(codeset, "GBK") == 0 || strcasecmp(codeset, "GB18030") == 0 ||
         strcasecmp(codeset, "CP936") == 0;
}

// The converter from code page 936 to the encoding of the environment's locale, or none when that
// is a GBK one already or iconv knows no way there. The locale is only looked at, never made the
// process's own: number formatting and everything else stay in the "C" locale.
iconv_t terminal_converter() {
  locale_t environment = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  locale_t plain = environment != static_cast<locale_t>(0)
                       ? environment
                       : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  if (plain == static_cast<locale_t>(0)) return no_converter;
  const char* codeset = nl_langinfo_l(CODESET, plain);
  iconv_t converter = no_converter;
  if (codeset != nullptr && codeset[0] != '\0' && !is_gbk_codeset(codeset))
    converter = iconv_open(codeset, "CP936");
  freelocale(plain);
  return converter;
}

// Converts `bytes` and writes the result. `consumed` tells how far the input was taken: an incomplete
// character at its end is left over. A byte sequence that the terminal cannot show, or that is no
// code page 936 character, shows as one question mark.
bool write_converted(Descriptor& descriptor, int fd, const char* bytes, std::size_t count,
                     std::size_t& consumed, BrokenPipeGuard& guard) {
  char* in = const_cast<char*>(bytes);
  std::size_t in_left = count;
  bool ok = true;
  while (in_left > 0) {
    char converted[1024];
    char* out = converted;
    std::size_t out_left = sizeof converted;
    std::size_t result = iconv(descriptor.converter, &in, &in_left, &out, &out_left);
    int failure = result == static_cast<std::size_t>(-1) ? errno : 0;
    if (out != converted && !write_all(fd, converted, static_cast<std::size_t>(out - converted), guard))
      ok = false;
    if (failure == EILSEQ) {
      // A lead byte takes its trail byte along only when that is one; a line end stays a line end.
      auto lead = static_cast<unsigned char>(in[0]);
      auto trail = in_left >= 2 ? static_cast<unsigned char>(in[1]) : 0;
      std::size_t skip =
          lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
      in += skip;
      in_left -= skip;
      if (!write_all(fd, "?", 1, guard)) ok = false;
    } else if (failure != 0 && failure != E2BIG) {
      // EINVAL: an incomplete character at the end waits for the next write.
      break;
    }
  }
  consumed = count - in_left;
  return ok;
}

bool write_through_converter(Descriptor& descriptor, int fd, const char* bytes, std::size_t count,
                             BrokenPipeGuard& guard) {
  bool ok = true;
  if (descriptor.held_count > 0) {
    // Complete the character cut off last time with the first bytes of this write.
    char joined[sizeof descriptor.held + 4];
    std::memcpy(joined, descriptor.held, descriptor.held_count);
    std::size_t taken = count < 4 ? count : 4;
    std::memcpy(joined + descriptor.held_count, bytes, taken);
    std::size_t joined_count = descriptor.held_count + taken;
    std::size_t consumed = 0;
    ok = write_converted(descriptor, fd, joined, joined_count, consumed, guard);
    if (consumed < descriptor.held_count) {
      // Still incomplete: everything waits for the next write.
      std::memcpy(descriptor.held, joined,
                  joined_count < sizeof descriptor.held ? joined_count : sizeof descriptor.held);
      descriptor.held_count = joined_count < sizeof descriptor.held ? joined_count : sizeof descriptor.held;
      return ok;
    }
    std::size_t from_this_write = consumed - descriptor.held_count;
    descriptor.held_count = 0;
    bytes += from_this_write;
    count -= from_this_write;
  }
  std::size_t consumed = 0;
  if (!write_converted(descriptor, fd, bytes, count, consumed, guard)) ok = false;
  std::size_t left = count - consumed;
  if (left > sizeof descriptor.held) left = sizeof descriptor.held;
  std::memcpy(descriptor.held, bytes + consumed, left);
  descriptor.held_count = left;
  return ok;
}

// The keys without a character that the form without echo reports, keyed by the final byte of
// their escape sequence (and its number, for those ending in '~'), with the pair that the Windows
// console reports for them: 0xE0 and the scan code for cursor and editing keys, 0x00 for F1 to F10.
struct KeySequence {
  char final_byte;
  int number;  // for '~' sequences; letter sequences match whatever number they carry (modifiers)
  unsigned char prefix;
  unsigned char code;
};

constexpr KeySequence key_sequences[] = {
    {'A', 0, 0xE0, 0x48},  {'B', 0, 0xE0, 0x50},
    {'C', 0, 0xE0, 0x4D},  {'D', 0, 0xE0, 0x4B},  // arrows
    {'H', 0, 0xE0, 0x47},  {'F', 0, 0xE0, 0x4F},  // Home End
    {'P', 0, 0x00, 0x3B},  {'Q', 0, 0x00, 0x3C},
    {'R', 0, 0x00, 0x3D},  {'S', 0, 0x00, 0x3E},  // F1-F4
    {'~', 1, 0xE0, 0x47},  {'~', 7, 0xE0, 0x47},
    {'~', 4, 0xE0, 0x4F},  {'~', 8, 0xE0, 0x4F},  // Home End
    {'~', 2, 0xE0, 0x52},  {'~', 3, 0xE0, 0x53},
    {'~', 5, 0xE0, 0x49},  {'~', 6, 0xE0, 0x51},  // Ins Del PgUp PgDn
    {'~', 11, 0x00, 0x3B}, {'~', 12, 0x00, 0x3C},
    {'~', 13, 0x00, 0x3D}, {'~', 14, 0x00, 0x3E},  // F1-F4
    {'~', 15, 0x00, 0x3F}, {'~', 17, 0x00, 0x40},
    {'~', 18, 0x00, 0x41}, {'~', 19, 0x00, 0x42},  // F5-F8
    {'~', 20, 0x00, 0x43}, {'~', 21, 0x00, 0x44},
    {'~', 23, 0xE0, 0x85}, {'~', 24, 0xE0, 0x86},  // F9-F12
};

constexpr unsigned char escape = 0x1B;
// The bytes of one escape sequence arrive together; a lone Esc key is followed by silence.
constexpr int sequence_pause_ms = 100;

class PosixConsoleDevice final : public ConsoleDevice {
 public:
  StreamKind kind(StandardStream stream) override { return describe(stream).kind; }
  bool usable(StandardStream stream) override { return describe(stream).usable; }

  bool write(StandardStream stream, const char* bytes, std::size_t count) override {
    Descriptor& descriptor = describe(stream);
    if (!descriptor.usable) return false;
    int fd = static_cast<int>(stream);
    BrokenPipeGuard guard;
    if (descriptor.converter != no_converter)
      return write_through_converter(descriptor, fd, bytes, count, guard);
    return write_all(fd, bytes, count, guard);
  }

  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    if (!describe(StandardStream::input).usable) return -1;
    for (;;) {
      ssize_t got = ::read(STDIN_FILENO, buffer, capacity);
      if (got < 0 && errno == EINTR) continue;
      return got < 0 ? -1 : got;
    }
  }

  bool read_key(KeyPress& key) override {
    if (key_input_ < 0 && !open_key_input()) return false;
    termios saved{};
    if (tcgetattr(key_input_, &saved) != 0) return false;
    // Like console mode 0: every key arrives at once and unechoed, Enter as CR, Ctrl+C as a byte.
    termios raw = saved;
    raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // TCSANOW: keys typed ahead stay in the queue.
    if (tcsetattr(key_input_, TCSANOW, &raw) != 0) return false;
    bool ok = read_one_key(key);
    tcsetattr(key_input_, TCSANOW, &saved);
    return ok;
  }

  void close_key_input() override {
    if (key_input_ >= 0) ::close(key_input_);
    key_input_ = -1;
  }

 private:
  Descriptor& describe(StandardStream stream) {
    Descriptor& descriptor = descriptors_[static_cast<int>(stream)];
    if (descriptor.known) return descriptor;
    descriptor.known = true;
    int fd = static_cast<int>(stream);
    struct stat info {};
    if (fstat(fd, &info) != 0) return descriptor;  // a closed descriptor: a character device, unusable
    descriptor.usable = true;
    if (S_ISCHR(info.st_mode)) {
      descriptor.kind = StreamKind::character_device;
    } else if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
      descriptor.kind = StreamKind::pipe;
    } else {
      descriptor.kind = StreamKind::file;
    }
    if (stream != StandardStream::input && isatty(fd) == 1) descriptor.converter = terminal_converter();
    return descriptor;
  }

  // The controlling terminal stands for CONIN$; without one, standard input if it is a terminal.
  bool open_key_input() {
    key_input_ = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (key_input_ < 0 && isatty(STDIN_FILENO) == 1) key_input_ = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    return key_input_ >= 0;
  }

  // One byte from the terminal; with a pause of zero or more, only if it arrives within it.
  bool read_byte(unsigned char& byte, int pause_ms) {
    if (pause_ms >= 0) {
      pollfd waiting{key_input_, POLLIN, 0};
      int ready;
      do {
        ready = poll(&waiting, 1, pause_ms);
      } while (ready < 0 && errno == EINTR);
      if (ready <= 0) return false;
    }
    for (;;) {
      ssize_t got = ::read(key_input_, &byte, 1);
      if (got < 0 && errno == EINTR) continue;
      return got == 1;
    }
  }

  bool read_one_key(KeyPress& key) {
    for (;;) {
      unsigned char byte;
      if (!read_byte(byte, -1)) return false;
      key = KeyPress{};
      if (byte != escape) {
        key.first = byte;
        return true;
      }
      unsigned char introducer;
      if (!read_byte(introducer, sequence_pause_ms)) {
        key.first = escape;  // the Esc key itself
        return true;
      }
      if (introducer != '[' && introducer != 'O') {
        // Alt with a character key: the Windows console reports the character.
        key.first = introducer;
        return true;
      }
      if (decode_sequence(introducer, key)) return true;
      // An escape sequence of a key not in the table is skipped, like shift or control alone.
    }
  }

  // Reads the rest of an escape sequence (parameters, then a final byte) and looks it up.
  bool decode_sequence(unsigned char introducer, KeyPress& key) {
    int number = 0;
    bool in_first_parameter = true;
    unsigned char byte;
    for (int length = 0; length < 16; ++length) {
      if (!read_byte(byte, sequence_pause_ms)) return false;
      if (introducer == '[' && length == 0 && byte == '[') {
        // The Linux console's F1 to F5: ESC [ [ A to E.
        if (!read_byte(byte, sequence_pause_ms) || byte < 'A' || byte > 'E') return false;
        return pair(key, 0x00, static_cast<unsigned char>(0x3B + (byte - 'A')));
      }
      if (byte >= '0' && byte <= '9') {
        if (in_first_parameter && number < 1000) number = number * 10 + (byte - '0');
        continue;
      }
      if (byte == ';') {
        in_first_parameter = false;
        continue;
      }
      if (byte < 0x40 || byte > 0x7E) continue;  // other parameter and intermediate bytes
      for (const KeySequence& sequence : key_sequences) {
        if (sequence.final_byte != static_cast<char>(byte)) continue;
        if (byte == '~' && sequence.number != number) continue;
        return pair(key, sequence.prefix, sequence.code);
      }
      return false;
    }
    return false;
  }

  static bool pair(KeyPress& key, unsigned char prefix, unsigned char code) {
    key.first = prefix;
    key.has_second = true;
    key.second = code;
    return true;
  }

  Descriptor descriptors_[3];
  int key_input_ = -1;
};

// The arguments after the program name, copied at start-up: each zero-terminated, one after the
// other, so an empty argument is a lone zero byte (an absent element).
char* remembered_arguments = nullptr;
std::size_t remembered_count = 0;

}  // namespace

std::size_t format_floating_point(double value, int digits, char* buffer, std::size_t size) {
  int length = std::snprintf(buffer, size, "%.*g", digits, value);
  if (length < 0) length = 0;
  return static_cast<std::size_t>(length) < size ? static_cast<std::size_t>(length) : size - 1;
}

// Never destroyed: the streams are flushed on the way out, after exit-time destructors may have run.
ConsoleDevice& system_console_device() {
  return lasting_instance<PosixConsoleDevice>();
}

void remember_process_arguments(int argc, char** argv) {
  release_memory(remembered_arguments);
  remembered_arguments = nullptr;
  remembered_count = 0;
  if (argc < 2 || argv == nullptr) return;
  std::size_t total = 0;
  for (int i = 1; i < argc; ++i) total += (argv[i] != nullptr ? std::strlen(argv[i]) : 0) + 1;
  auto* copy = static_cast<char*>(allocate_memory_of(total));
  char* at = copy;
  for (int i = 1; i < argc; ++i) {
    std::size_t length = argv[i] != nullptr ? std::strlen(argv[i]) : 0;
    if (length > 0) std::memcpy(at, argv[i], length);
    at[length] = '\0';
    at += length + 1;
    // The arguments are an account and its password. The kernel shows the process's own argument
    // strings to every user (ps, /proc/PID/cmdline) for as long as the process runs, which is the
    // whole dial; wiping them here leaves only our copy.
    if (length > 0) std::memset(argv[i], 0, length);
  }
  remembered_arguments = copy;
  remembered_count = static_cast<std::size_t>(argc - 1);
}

TextArray system_command_line_arguments() {
  TextArray arguments = TextArray::with_one_dimension(static_cast<std::uint32_t>(remembered_count));
  const char* at = remembered_arguments;
  for (std::size_t i = 1; i <= remembered_count; ++i) {
    std::size_t length = std::strlen(at);
    arguments.set_element(i, Text::copy_of(at, length));
    at += length + 1;
  }
  return arguments;
}

}  // namespace adsl
