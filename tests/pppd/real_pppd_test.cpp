// The driver's arguments and options against Debian's own pppd. This machine's kernel has no PPP, so
// pppd parses everything it is given and then exits 4; an options error would make it exit 2 first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dialup/ras_pppd.h"

namespace {

namespace fs = std::filesystem;
using namespace adsl;

constexpr const char kPppd[] = "/usr/sbin/pppd";

/// Whether pppd on this machine exits 4 after parsing (no PPP in the kernel), as it does here.
bool kernel_lacks_ppp() {
  return !fs::exists("/dev/ppp");
}

class RealPppd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kPppd)) << "Debian's ppp package is a test dependency (tools/install-deps.sh)";
    if (geteuid() != 0) GTEST_SKIP() << "pppd's `call` and `linkname` are for root only";
    log_path_ =
        (fs::temp_directory_path() / ("adsl-real-pppd-" + std::to_string(getpid()) + ".log")).string();
  }
  void TearDown() override {
    for (const fs::path& peer : peers_) fs::remove(peer);
    fs::remove(log_path_);
  }

  /// A peer file under /etc/ppp/peers for this test only; removed afterwards.
  std::string add_peer(const std::string& name, const std::string& content) {
    const fs::path path = fs::path("/etc/ppp/peers") / name;
    std::ofstream(path) << content;
    peers_.push_back(path);
    return name;
  }

  /// Dials with the system's own places, pppd's output captured; pppd's wait status.
  int dial(const std::string& entry, const std::string& user, const std::string& password, DWORD* result) {
    const int log = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    PppdRoots roots = system_pppd_roots();
    roots.pppd_output = log;
    PppdRasOperations ras(roots);
    RASDIALPARAMSA params;
    std::memset(&params, 0, sizeof params);
    params.dwSize = sizeof params;
    std::memcpy(params.szEntryName, entry.data(), entry.size());
    std::memcpy(params.szUserName, user.data(), user.size());
    std::memcpy(params.szPassword, password.data(), password.size());
    HRASCONN handle = nullptr;
    *result = ras.RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle);
    close(log);
    EXPECT_EQ(handle, nullptr);
    return ras.last_pppd_wait_status();
  }

  std::string log() const {
    std::ifstream in(log_path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::vector<fs::path> peers_;
  std::string log_path_;
};

// A peer like pppoeconf's (persist, noauth, its own user and maxfail), over a pty instead of PPPoE: the
// PPPoE plugin refuses to load on a kernel without PPP (status 1) before anything else is checked.
const char kPeer[] =
    "noauth\npersist\nmaxfail 5\nholdoff 30\nuser \"from-peer\"\nhide-password\npty \"/bin/true\"\n";

TEST_F(RealPppd, AcceptsOurArgumentsAndOptionsPipeWithAwkwardCredentialsAndPeerNames) {
  std::string every_byte;
  for (int byte = 1; byte < 256; ++byte) every_byte.push_back(static_cast<char>(byte));
  struct Row {
    std::string peer;
    std::string user;
    std::string password;
  };
  const std::string id = std::to_string(getpid());
  const Row rows[] = {
      {"adsl-test-" + id, "user@isp", "secret"},
      {"adsl test '" + id + "' \xc3\xa9#", "a \"b\" c\\d #e\nf", every_byte},
      {"adsl-test-" + id + "-b", std::string(255, '\\'), std::string(255, '"')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.peer);
    add_peer(row.peer, kPeer);
    DWORD result = 0;
    const int status = dial(row.peer, row.user, row.password, &result);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (kernel_lacks_ppp()) {
      EXPECT_EQ(WEXITSTATUS(status), 4) << log();
      EXPECT_EQ(result, ERROR_FROM_DEVICE);
    } else {
      EXPECT_NE(WEXITSTATUS(status), 2) << log();
    }
    EXPECT_EQ(log().find("unrecognized"), std::string::npos) << log();
    EXPECT_EQ(log().find("In file"), std::string::npos) << log();
  }
}

TEST_F(RealPppd, AWrongOptionInThePeerIsAnOptionsError) {
  const std::string peer =
      add_peer("adsl-test-" + std::to_string(getpid()), std::string(kPeer) + "adsl-no-such-option\n");
  DWORD result = 0;
  const int status = dial(peer, "user", "secret", &result);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(log().find("unrecognized option 'adsl-no-such-option'"), std::string::npos) << log();
  EXPECT_EQ(result, ERROR_FROM_DEVICE);
}

/// Runs pppd with `file /dev/fd/3` reading `options`; its exit status and what it wrote.
int run_pppd_on_options(const std::string& options, std::string& output) {
  int input[2];
  int errors[2];
  if (pipe(input) != 0 || pipe(errors) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(input[0], 3);
    dup2(errors[1], 1);
    dup2(errors[1], 2);
    const int null_device = open("/dev/null", O_RDONLY);
    dup2(null_device, 0);
    for (int fd = 4; fd < 64; ++fd) close(fd);
    execl(kPppd, kPppd, "file", "/dev/fd/3", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(input[0]);
  close(errors[1]);
  if (write(input[1], options.data(), options.size()) != static_cast<ssize_t>(options.size())) return -1;
  close(input[1]);
  output.clear();
  char chunk[4096];
  for (ssize_t got; (got = read(errors[0], chunk, sizeof chunk)) > 0;)
    output.append(chunk, static_cast<std::size_t>(got));
  close(errors[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// pppd echoes the name of an options file it cannot open, byte for byte: a quoted word given to `file`
// comes back exactly as pppd read it.
TEST(RealPppdWords, PppdReadsEveryQuotedWordBackExactly) {
  ASSERT_TRUE(fs::exists(kPppd));
  std::string every_byte;
  for (int byte = 1; byte < 256; ++byte) every_byte.push_back(static_cast<char>(byte));
  const std::vector<std::string> rows = {
      "plain",
      "with spaces and\ttabs",
      "\"double\" and 'single' quotes",
      "back\\slash \\x41 \\101 \\n \\",
      "# not a comment",
      "line\nbreak\rand\r\n",
      "\xe7\x94\xa8\xe6\x88\xb7 \x80\xff",
      every_byte,
      std::string(255, '\\'),
      std::string(255, '"'),
  };
  for (const std::string& row : rows) {
    SCOPED_TRACE(row);
    // Under a directory that does not exist, whatever the word holds names no file.
    const std::string word = "/nonexistent-adsl-directory/" + row;
    std::vector<char> quoted(2 * word.size() + 3);
    ASSERT_TRUE(quote_pppd_word(word.c_str(), quoted.data(), quoted.size()));
    std::string output;
    EXPECT_EQ(run_pppd_on_options("file " + std::string(quoted.data()) + "\n", output), 2);
    EXPECT_NE(output.find("Can't open options file " + word + ": No such file or directory\n"),
              std::string::npos)
        << output;
  }
}

TEST(RealPppdWords, UnquotedTheSameWordsWouldBeReadAsOtherWords) {
  // What the quoting prevents: the bare word splits at the space and the backslash escape is read.
  std::string output;
  EXPECT_EQ(run_pppd_on_options("file /nonexistent-adsl-directory/a\\x41 b\n", output), 2);
  EXPECT_NE(output.find("Can't open options file /nonexistent-adsl-directory/aA:"), std::string::npos)
      << output;
}

TEST(QuotePppdWord, RefusesAWordThatDoesNotFit) {
  char out[8];
  EXPECT_TRUE(quote_pppd_word("abcde", out, sizeof out));
  EXPECT_STREQ(out, "\"abcde\"");
  EXPECT_FALSE(quote_pppd_word("abcdef", out, sizeof out));
  EXPECT_FALSE(quote_pppd_word("ab\"de", out, sizeof out));
}

}  // namespace
