// The pppd driver against a fake pppd in a world of its own: phone book, dials, connections, hang-up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "pppd_world.h"

namespace pppd_test {
namespace {

using namespace adsl;
using namespace adsl::pppd_ras_codes;
using namespace std::chrono_literals;

// ---------------------------------------------------------------------------------------------------
// Phone book

TEST(PhoneBook, ListsRegularPeerFilesInByteOrderLeavingOutHiddenFilesAndBackups) {
  PppdWorld world;
  struct Row {
    const char* name;
    bool listed;
  };
  const Row rows[] = {
      {"provider", true},
      {"dsl-provider", true},
      {"Zeta", true},
      {"\xc3\xa9t\xc3\xa9", true},
      {"isp with spaces", true},
      {".hidden", false},
      {"isp~", false},
      {"isp.bak", false},
      {"isp.orig", false},
      {"isp.dpkg-old", false},
      {"isp.dpkg-dist", false},
      {"isp.dpkg-new", false},
      {"isp.ucf-old", false},
      {"isp.ucf-dist", false},
      {"#isp#", true},
  };
  for (const Row& row : rows) world.add_peer(row.name);
  fs::create_directory(world.peers / "a-directory");
  fs::create_symlink(world.peers / "provider", world.peers / "linked");
  fs::create_symlink(world.peers / "nowhere", world.peers / "dangling");

  PppdRasOperations ras(world.roots());
  DWORD result = 0;
  const std::vector<std::string> names = list_entries(ras, &result);
  ASSERT_EQ(result, ERROR_SUCCESS);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(std::count(names.begin(), names.end(), row.name), row.listed ? 1 : 0);
  }
  EXPECT_EQ(std::count(names.begin(), names.end(), "linked"), 1) << "a link to a peer file is a peer";
  EXPECT_EQ(std::count(names.begin(), names.end(), "a-directory"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), "dangling"), 0);
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << "std::string compares bytes as unsigned";
  EXPECT_EQ(names.front(), "#isp#");
  EXPECT_EQ(names.back(), "\xc3\xa9t\xc3\xa9");
}

TEST(PhoneBook, DslProviderOfPppoeconfIsEntryZeroBesideDebiansProvider) {
  PppdWorld world;
  world.add_peer("provider");
  world.add_peer("dsl-provider");
  world.add_peer("dsl-provider.dpkg-old");
  PppdRasOperations ras(world.roots());
  EXPECT_EQ(list_entries(ras), (std::vector<std::string>{"dsl-provider", "provider"}));
}

TEST(PhoneBook, MoreEntriesThanTheBufferHoldsAnswerBufferTooSmallWithTheSizeNeeded) {
  PppdWorld world;
  for (int i = 0; i < 39; ++i) world.add_peer("isp" + std::to_string(100 + i));
  PppdRasOperations ras(world.roots());

  std::vector<RASENTRYNAMEA> listing(39);
  for (DWORD fit : {38u, 39u}) {
    SCOPED_TRACE(fit);
    std::memset(listing.data(), 0, listing.size() * sizeof(RASENTRYNAMEA));
    listing[0].dwSize = sizeof(RASENTRYNAMEA);
    DWORD bytes = fit * sizeof(RASENTRYNAMEA);
    DWORD count = 0;
    const DWORD result = ras.RasEnumEntriesA(nullptr, nullptr, listing.data(), &bytes, &count);
    EXPECT_EQ(result, fit == 38 ? ERROR_BUFFER_TOO_SMALL : ERROR_SUCCESS);
    EXPECT_EQ(bytes, 39 * sizeof(RASENTRYNAMEA));
    EXPECT_EQ(count, 39u);
    if (fit == 39) {
      EXPECT_STREQ(listing[38].szEntryName, "isp138");
    }
  }
}

TEST(PhoneBook, StructureSizeAndMissingArgumentsAreCheckedAsWindowsDoes) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  PppdRasOperations ras(world.roots());
  RASENTRYNAMEA listing[2];
  for (DWORD size : {0u, 263u, 265u, 1052u}) {
    SCOPED_TRACE(size);
    std::memset(listing, 0, sizeof listing);
    listing[0].dwSize = size;
    DWORD bytes = sizeof listing;
    DWORD count = 7;
    EXPECT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, listing, &bytes, &count), ERROR_INVALID_SIZE);
  }
  listing[0].dwSize = sizeof(RASENTRYNAMEA);
  DWORD bytes = sizeof listing;
  DWORD count = 0;
  EXPECT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, listing, nullptr, &count), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, listing, &bytes, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ras.RasEnumEntriesA(nullptr, "C:\\rasphone.pbk", listing, &bytes, &count),
            ERROR_CANNOT_OPEN_PHONEBOOK);
}

TEST(PhoneBook, MissingPeersDirectoryIsAnEmptyPhoneBook) {
  PppdWorld world;
  fs::remove_all(world.peers);
  PppdRasOperations ras(world.roots());
  DWORD result = 1;
  EXPECT_TRUE(list_entries(ras, &result).empty());
  EXPECT_EQ(result, ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------------------------------
// Synchronous dial

struct DialOutcome {
  DWORD result;
  HRASCONN handle;
};

DialOutcome dial(RasOperations& ras, const RASDIALPARAMSA& given, RasDialNotifier notifier = nullptr) {
  RASDIALPARAMSA params = given;
  HRASCONN handle = nullptr;
  const DWORD result = ras.RasDialA(nullptr, nullptr, &params, 0, notifier, &handle);
  return {result, handle};
}

/// Waits as the dial-up logic does after a hang-up: until the handle is invalid, at most 3000 ms.
bool hang_up_and_wait(RasOperations& ras, HRASCONN handle) {
  ras.RasHangUpA(handle);
  return eventually(
      [&] {
        DWORD result = 0;
        state_of(ras, handle, &result);
        return result == ERROR_INVALID_HANDLE;
      },
      3000ms);
}

TEST(SynchronousDial, RunsPppdCallWithBoundedRetriesAndReturnsTheDaemonOnceTheLinkIsUp) {
  PppdWorld world;
  world.add_peer("dsl-provider", "noauth\npersist\nplugin rp-pppoe.so\nnic-eth0\n");
  world.set_scenario({{"mode", "up"}});
  PppdRasOperations ras(world.roots());

  const DialOutcome outcome = dial(ras, dial_params("dsl-provider", "", "user@isp", "secret"));
  ASSERT_EQ(outcome.result, ERROR_SUCCESS);
  ASSERT_NE(outcome.handle, nullptr);

  // `call` first, so that maxfail, updetach and linkname override the peer's own values.
  const std::vector<std::string> argv = world.recorded_words("argv");
  ASSERT_EQ(argv.size(), 10u);
  EXPECT_EQ(argv[0], world.fake.string());
  EXPECT_EQ(std::vector<std::string>(argv.begin() + 1, argv.begin() + 9),
            (std::vector<std::string>{"call", "dsl-provider", "file", "/dev/fd/3", "maxfail", "1", "updetach",
                                      "linkname"}));
  EXPECT_EQ(argv[9].rfind("adsl-" + std::to_string(getpid()) + "-", 0), 0u) << argv[9];

  // The daemon, not the process that detached, is what the handle names: connected now, and the
  // one a hang-up ends.
  const std::string ready = world.wait_ready();
  const pid_t daemon = std::stoi(ready.substr(3));
  EXPECT_TRUE(is_live(daemon));
  EXPECT_EQ(state_of(ras, outcome.handle), RASCS_Connected);
  EXPECT_TRUE(hang_up_and_wait(ras, outcome.handle));
  EXPECT_TRUE(eventually([&] { return !is_live(daemon); }));
  EXPECT_TRUE(world.live_fakes().empty());
}

TEST(SynchronousDial, PppdStartsWithOnlyTheOptionsPipeNullInputACleanEnvironmentAndNoOtherDescriptor) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  world.set_scenario({{"mode", "exit"}, {"status", "19"}});
  // A descriptor of this process without close-on-exec: pppd must not inherit it all the same.
  const int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 0);
  setenv("ADSL_TEST_SECRET", "inherited", 1);
  PppdRasOperations ras(world.roots());
  EXPECT_EQ(dial(ras, dial_params("dsl-provider", "", "user", "secret")).result,
            ERROR_AUTHENTICATION_FAILURE);
  close(stray);
  unsetenv("ADSL_TEST_SECRET");

  std::istringstream fds(world.recorded("fds"));
  std::map<int, std::string> open_fds;
  for (int fd; fds >> fd;) {
    std::string target;
    fds.get();
    std::getline(fds, target);
    open_fds[fd] = target;
  }
  ASSERT_EQ(open_fds.size(), 4u) << world.recorded("fds");
  EXPECT_EQ(open_fds[0], "/dev/null");
  EXPECT_EQ(open_fds[1], "/dev/null") << "pppd's log must not reach our console";
  EXPECT_EQ(open_fds[2], "/dev/null");
  EXPECT_EQ(open_fds[3].rfind("pipe:", 0), 0u) << open_fds[3];
  const std::vector<std::string> environment = world.recorded_words("environ");
  ASSERT_EQ(environment.size(), 1u);
  EXPECT_EQ(environment[0].rfind("PATH=", 0), 0u);
}

TEST(SynchronousDial, PppdOutputGoesWhereTheRootsSay) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  world.set_scenario({{"mode", "exit"}, {"status", "8"}});
  const fs::path log = world.root / "pppd.log";
  const int output = open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  PppdRoots roots = world.roots();
  roots.pppd_output = output;
  PppdRasOperations ras(roots);
  EXPECT_EQ(dial(ras, dial_params("dsl-provider", "", "u", "p")).result, ERROR_NO_ANSWER);
  close(output);
  EXPECT_NE(world.recorded("fds").find("1 " + log.string() + "\n2 " + log.string() + "\n"), std::string::npos)
      << world.recorded("fds");
}

TEST(SynchronousDial, PppdsEndMapsToTheRasErrorOfTheSameMeaningAndLeavesNoPppdRunning) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  PppdRasOperations ras(world.roots());
  struct Row {
    const char* mode;
    int status;
    DWORD expected;
  };
  const Row rows[] = {
      {"exit", 19, ERROR_AUTHENTICATION_FAILURE},  // we failed to authenticate
      {"exit", 8, ERROR_NO_ANSWER},                // connect script or PPPoE discovery failed
      {"exit", 3, ERROR_FROM_DEVICE},    // not root
      {"exit", 4, ERROR_FROM_DEVICE},    // no PPP in the kernel
      {"exit", 2, ERROR_FROM_DEVICE},    // options error
      {"exit", 1, ERROR_FROM_DEVICE},    // fatal error
      {"exit", 5, ERROR_USER_DISCONNECTION},       // ended by a signal it caught
      {"exit", 7, ERROR_PORT_NOT_AVAILABLE},       // serial port could not be opened
      {"exit", 10, ERROR_PPP_LCP_TERMINATED},      // negotiation failed
      {"exit", 16, ERROR_DISCONNECTION},           // modem hang-up
      {"exit", 0, ERROR_DISCONNECTION},            // ended normally without a link
      {"exit", 77, ERROR_UNKNOWN},
      {"die", 0, ERROR_USER_DISCONNECTION},  // killed by SIGTERM
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.mode) + " " + std::to_string(row.status));
    world.set_scenario({{"mode", row.mode}, {"status", std::to_string(row.status)}});
    const DialOutcome outcome = dial(ras, dial_params("dsl-provider", "", "u", "p"));
    EXPECT_EQ(outcome.result, row.expected);
    EXPECT_EQ(outcome.handle, nullptr);
    EXPECT_TRUE(world.live_fakes().empty());
  }
  EXPECT_EQ(world.fake_starts(), static_cast<int>(std::size(rows)));
}

TEST(SynchronousDial, CredentialsReachPppdUnchangedWhateverBytesTheyHold) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  world.set_scenario({{"mode", "exit"}, {"status", "19"}});
  PppdRasOperations ras(world.roots());
  std::string every_byte;
  for (int byte = 1; byte < 256; ++byte) every_byte.push_back(static_cast<char>(byte));
  struct Row {
    std::string user;
    std::string password;
  };
  const std::vector<Row> rows = {
      {"user name", "pass word"},
      {"\"quoted\"", "'single' \"double\""},
      {"back\\slash\\", "\\x41\\101\\n\\"},
      {"#not-a-comment", "# also not"},
      {"line\nbreak", "\r\n\t\v\f"},
      {" leading and trailing ", "  "},
      {"\xe7\x94\xa8\xe6\x88\xb7", "\x80\xff\xa0\xc0"},
      {"user", every_byte},
      {std::string(255, '"'), std::string(255, '\\')},
      {"file /etc/shadow", "password\nnoauth\ndebug"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.user + " / " + row.password);
    world.clear_record();
    EXPECT_EQ(dial(ras, dial_params("dsl-provider", "", row.user, row.password)).result,
              ERROR_AUTHENTICATION_FAILURE);
    EXPECT_EQ(world.recorded_words("words"),
              (std::vector<std::string>{"user", row.user, "password", row.password}))
        << world.recorded("options");
  }
}

TEST(SynchronousDial, EmptyCredentialsAreLeftToThePeer) {
  PppdWorld world;
  world.add_peer("dsl-provider", "user \"from-peer\"\n");
  world.set_scenario({{"mode", "exit"}, {"status", "19"}});
  PppdRasOperations ras(world.roots());
  struct Row {
    const char* user;
    const char* password;
    std::vector<std::string> words;
  };
  const Row rows[] = {
      {"", "", {}},
      {"u", "", {"user", "u"}},
      {"", "p", {"password", "p"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.user) + "/" + row.password);
    world.clear_record();
    dial(ras, dial_params("dsl-provider", "", row.user, row.password));
    EXPECT_EQ(world.recorded_words("words"), row.words);
  }
}

TEST(SynchronousDial, CredentialsPppdWouldCutOrUnterminatedFieldsAreRefusedWithoutStartingPppd) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  world.set_scenario({{"mode", "exit"}, {"status", "0"}});
  PppdRasOperations ras(world.roots());
  RASDIALPARAMSA long_user = dial_params("dsl-provider", "", std::string(256, 'u'), "p");
  RASDIALPARAMSA long_password = dial_params("dsl-provider", "", "u", std::string(256, 'p'));
  RASDIALPARAMSA unterminated = dial_params("dsl-provider", "", "u", "p");
  std::memset(unterminated.szUserName, 'u', sizeof unterminated.szUserName);
  RASDIALPARAMSA wrong_size = dial_params("dsl-provider", "", "u", "p");
  wrong_size.dwSize = 1051;
  struct Row {
    const char* what;
    RASDIALPARAMSA params;
    DWORD expected;
  };
  const Row rows[] = {
      {"256-byte user name", long_user, ERROR_INVALID_PARAMETER},
      {"256-byte password", long_password, ERROR_INVALID_PARAMETER},
      {"unterminated user name", unterminated, ERROR_INVALID_PARAMETER},
      {"wrong structure size", wrong_size, ERROR_INVALID_SIZE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(dial(ras, row.params).result, row.expected);
  }
  EXPECT_EQ(world.fake_starts(), 0);
  RASDIALPARAMSA params = dial_params("dsl-provider", "", "u", "p");
  EXPECT_EQ(ras.RasDialA(nullptr, nullptr, &params, 0, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(world.fake_starts(), 0);
}

TEST(SynchronousDial, PeerNameWithOddBytesIsHandedOverAsOneArgument) {
  PppdWorld world;
  const std::string name = "my isp 'x' \"y\" #1 \\n \xe4\xb8\xad\t$(reboot)";
  world.add_peer(name);
  world.set_scenario({{"mode", "exit"}, {"status", "19"}});
  PppdRasOperations ras(world.roots());
  ASSERT_EQ(list_entries(ras), std::vector<std::string>{name});
  EXPECT_EQ(dial(ras, dial_params(name, "", "u", "p")).result, ERROR_AUTHENTICATION_FAILURE);
  const std::vector<std::string> argv = world.recorded_words("argv");
  ASSERT_GE(argv.size(), 3u);
  EXPECT_EQ(argv[1], "call");
  EXPECT_EQ(argv[2], name);
}

TEST(SynchronousDial, NameOutsideThePhoneBookIsNotFoundAndNothingStarts) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  world.add_peer(".hidden");
  world.add_peer("isp~");
  fs::create_directory(world.peers / "dir");
  std::ofstream(world.root / "outside") << "noauth\n";
  PppdRasOperations ras(world.roots());
  for (const char* entry :
       {"missing", ".hidden", "isp~", "dir", "../outside", "/etc/passwd", "dsl-provider/"}) {
    SCOPED_TRACE(entry);
    EXPECT_EQ(dial(ras, dial_params(entry, "", "u", "p")).result, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  }
  EXPECT_EQ(world.fake_starts(), 0);
}

TEST(SynchronousDial, MissingPppdIsACleanDeviceError) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  PppdRoots roots = world.roots();
  const std::string missing = (world.root / "no-such-pppd").string();
  roots.pppd_path = missing.c_str();
  PppdRasOperations ras(roots);
  const DialOutcome outcome = dial(ras, dial_params("dsl-provider", "", "u", "p"));
  EXPECT_EQ(outcome.result, ERROR_FROM_DEVICE);
  EXPECT_EQ(outcome.handle, nullptr);
}

TEST(SynchronousDial, WhileDialingThePasswordIsInNoProcessArgumentsAndNoEnvironmentOfPppd) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  world.set_scenario({{"mode", "hang"}});
  PppdRasOperations ras(world.roots());
  const std::string password = "Pa55-w0rd with \"spaces\" \xe5\xaf\x86";
  auto dialing = std::async(std::launch::async,
                            [&] { return dial(ras, dial_params("dsl-provider", "", "someone", password)); });
  world.wait_ready();
  const std::vector<pid_t> fakes = world.live_fakes();
  ASSERT_EQ(fakes.size(), 1u);

  int scanned = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str().find(password), std::string::npos) << "in the arguments of process " << name;
    ++scanned;
  }
  EXPECT_GT(scanned, 1);
  std::ifstream in("/proc/" + std::to_string(fakes[0]) + "/environ", std::ios::binary);
  std::ostringstream environment;
  environment << in.rdbuf();
  EXPECT_FALSE(environment.str().empty());
  EXPECT_EQ(environment.str().find(password), std::string::npos);
  // pppd did get it, through the pipe.
  EXPECT_EQ(world.recorded_words("words").back(), password);

  // While it dials it is a connection in a dialing state.
  const std::vector<RASCONNA> connections = list_connections(ras);
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(state_of(ras, connections[0].hrasconn), RASCS_ConnectDevice);
  EXPECT_STREQ(connections[0].szEntryName, "dsl-provider");

  kill(fakes[0], SIGTERM);
  ASSERT_EQ(dialing.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(dialing.get().result, ERROR_USER_DISCONNECTION);
}

// ---------------------------------------------------------------------------------------------------
// Phone numbers

TEST(PhoneNumberDial, DialsTheProviderPeerWithTheNumberAsChatsTelephoneNumber) {
  PppdWorld world;
  world.add_peer("provider",
                 "/dev/modem\n115200\nconnect \"/usr/sbin/chat -v -f /etc/chatscripts/pap -T ****\"\n");
  world.set_scenario({{"mode", "exit"}, {"status", "8"}});
  PppdRasOperations ras(world.roots());
  EXPECT_EQ(dial(ras, dial_params("", "0,,9W 123-456#*", "u", "p")).result, ERROR_NO_ANSWER);
  const std::vector<std::string> argv = world.recorded_words("argv");
  ASSERT_GE(argv.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(argv.begin() + 1, argv.begin() + 5),
            (std::vector<std::string>{"call", "provider", "connect",
                                      "/usr/sbin/chat -v -f /etc/chatscripts/pap -T '0,,9W 123-456#*'"}));
}

TEST(PhoneNumberDial, WithoutAProviderPeerOrWithBytesAShellWouldReadItFailsCleanly) {
  PppdWorld world;
  PppdRasOperations ras(world.roots());
  EXPECT_EQ(dial(ras, dial_params("", "12345", "u", "p")).result, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  world.add_peer("provider");
  for (const char* number :
       {"", "1'2", "1;reboot", "$(reboot)", "1`x`", "1\"2", "1\\2", "1\n2", "\xe4\xb8\xad"}) {
    SCOPED_TRACE(number);
    EXPECT_NE(dial(ras, dial_params("", number, "u", "p")).result, ERROR_SUCCESS);
  }
  EXPECT_EQ(world.fake_starts(), 0);
}

// ---------------------------------------------------------------------------------------------------
// Connections and hang-up

/// A process that is not pppd, optionally calling itself pppd; ended when the guard goes.
struct Impostor {
  explicit Impostor(bool named_pppd) {
    pid = fork();
    if (pid == 0) {
      if (named_pppd) prctl(PR_SET_NAME, "pppd");
      for (;;) pause();
    }
  }
  ~Impostor() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid_t pid;
};

/// A world whose dsl-provider has been dialed by the driver and is up on ppp0.
class Connections : public ::testing::Test {
 protected:
  void SetUp() override {
    world.add_peer("dsl-provider");
    world.set_scenario({{"mode", "up"}});
    ours = dial(ras, dial_params("dsl-provider", "", "u", "p"));
    ASSERT_EQ(ours.result, ERROR_SUCCESS);
  }

  PppdWorld world;
  PppdRasOperations ras{world.roots()};
  DialOutcome ours{};
};

TEST_F(Connections, EveryLivePppdNamedByAPidFileIsListedOnceOurOwnAndOthers) {
  // Someone else's pppd on ppp1, started by hand.
  world.clear_record();
  world.set_scenario({{"mode", "up"}, {"ifname", "ppp1"}});
  ASSERT_EQ(world.run_fake({"pppd", "call", "other-isp", "updetach", "linkname", "theirs"}), 0);
  const pid_t theirs = std::stoi(world.wait_ready().substr(3));

  // Files that name no pppd.
  Impostor plain(false);
  Impostor named(true);
  const std::map<std::string, std::string> junk = {
      {"ppp-garbage.pid", "not a pid\n"},
      {"ppp7.pid", "0\n"},
      {"ppp8.pid", "-1\n"},
      {"ppp9.pid", "99999999999\n"},
      {"ppp10.pid", ""},
      {"ppp11.pid", "12 34\n"},
      {"ppp-plain.pid", std::to_string(plain.pid) + "\nppp5\n"},
      {"ppp12.pid", std::to_string(named.pid) + "\n"},
      {"ppp-gone.pid", "4194303\n"},
      {"other.pid", std::to_string(theirs) + "\n"},
  };
  for (const auto& [name, content] : junk) std::ofstream(world.run / name) << content;

  DWORD result = 1;
  const std::vector<RASCONNA> connections = list_connections(ras, &result);
  ASSERT_EQ(result, ERROR_SUCCESS);
  ASSERT_EQ(connections.size(), 2u);
  std::map<std::string, RASCONNA> by_entry;
  for (const RASCONNA& connection : connections) by_entry[connection.szEntryName] = connection;
  ASSERT_EQ(by_entry.count("dsl-provider"), 1u);
  ASSERT_EQ(by_entry.count("other-isp"), 1u);
  // RASCONNA is packed as Windows packs it: the handle is read by value, never bound by reference.
  const HRASCONN listed = by_entry["dsl-provider"].hrasconn;
  EXPECT_EQ(listed, ours.handle);
  EXPECT_STREQ(by_entry["dsl-provider"].szDeviceName, "ppp0");
  EXPECT_STREQ(by_entry["other-isp"].szDeviceName, "ppp1");
  for (const RASCONNA& connection : connections) {
    SCOPED_TRACE(connection.szEntryName);
    EXPECT_EQ(connection.dwSize, sizeof(RASCONNA));
    EXPECT_EQ(state_of(ras, connection.hrasconn), RASCS_Connected);
  }

  // Hanging up everything listed ends both pppds and nothing else.
  for (const RASCONNA& connection : connections) EXPECT_TRUE(hang_up_and_wait(ras, connection.hrasconn));
  EXPECT_TRUE(eventually([&] { return world.live_fakes().empty(); }));
  EXPECT_TRUE(is_live(plain.pid));
  EXPECT_TRUE(is_live(named.pid));
  EXPECT_TRUE(list_connections(ras).empty());
}

TEST_F(Connections, BufferTooSmallAndWrongSizesAnswerAsWindowsDoes) {
  RASCONNA list[1];
  std::memset(list, 0, sizeof list);
  list[0].dwSize = sizeof(RASCONNA);
  DWORD bytes = 0;
  DWORD count = 0;
  EXPECT_EQ(ras.RasEnumConnectionsA(list, &bytes, &count), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(bytes, sizeof(RASCONNA));
  EXPECT_EQ(count, 1u);
  list[0].dwSize = sizeof(RASCONNA) == 412 ? 416 : 412;  // the size of the other Windows build
  bytes = sizeof list;
  EXPECT_EQ(ras.RasEnumConnectionsA(list, &bytes, &count), ERROR_INVALID_SIZE);

  RASCONNSTATUSA status;
  std::memset(&status, 0, sizeof status);
  status.dwSize = 159;
  EXPECT_EQ(ras.RasGetConnectStatusA(ours.handle, &status), ERROR_INVALID_SIZE);
  EXPECT_TRUE(hang_up_and_wait(ras, ours.handle));
}

TEST_F(Connections, ConnectedOnlyWhileTheInterfaceIsUpWithItsLinkWorkingAndHasAnAddress) {
  const fs::path interface = world.sys / "class/net/ppp0";
  const std::string header =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  const std::string peer_route = "ppp0\t0100400A\t00000000\t0005\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n";
  const std::string inet6 = "fe800000000000000000000000000001 05 40 20 80     ppp0\n";
  // Values as the kernel shows them: sysfs flags never carry IFF_RUNNING (0x40); a working ppp link
  // has a carrier and the operational state "unknown"; the carrier cannot be read while it is down.
  struct Row {
    const char* what;
    const char* flags;
    const char* carrier;  // null: no such file
    const char* operstate;
    std::string routes;
    std::string inet6;
    DWORD expected;
  };
  const Row rows[] = {
      {"working ppp link with an IPv4 address", "0x1091", "1", "unknown", peer_route, "", RASCS_Connected},
      {"operational state up", "0x1003", "1", "up", peer_route, "", RASCS_Connected},
      {"IPv6 address only", "0x1091", "1", "unknown", "", inet6, RASCS_Connected},
      {"not up", "0x1090", nullptr, "down", peer_route, "", RASCS_DeviceConnected},
      {"no carrier", "0x1091", "0", "unknown", peer_route, "", RASCS_DeviceConnected},
      {"carrier unreadable", "0x1091", nullptr, "unknown", peer_route, "", RASCS_DeviceConnected},
      {"operational state down", "0x1091", "1", "down", peer_route, "", RASCS_DeviceConnected},
      {"operational state dormant", "0x1091", "1", "dormant", peer_route, "", RASCS_DeviceConnected},
      {"no address", "0x1091", "1", "unknown", "", "", RASCS_DeviceConnected},
      {"route not up", "0x1091", "1", "unknown",
       "ppp0\t0100400A\t00000000\t0004\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n", "", RASCS_DeviceConnected},
      {"addresses of other interfaces", "0x1091", "1", "unknown",
       "ppp00\t0100400A\t00000000\t0005\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n",
       "fe800000000000000000000000000001 05 40 20 80    xppp0\n", RASCS_DeviceConnected},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::create_directories(interface);
    std::ofstream(interface / "flags") << row.flags << "\n";
    fs::remove(interface / "carrier");
    if (row.carrier != nullptr) std::ofstream(interface / "carrier") << row.carrier << "\n";
    std::ofstream(interface / "operstate") << row.operstate << "\n";
    std::ofstream(world.net / "route") << header << row.routes;
    std::ofstream(world.net / "if_inet6") << row.inet6;
    EXPECT_EQ(state_of(ras, ours.handle), row.expected);
  }
  fs::remove_all(interface);
  EXPECT_EQ(state_of(ras, ours.handle), RASCS_ConnectDevice) << "no interface at all";
  EXPECT_TRUE(hang_up_and_wait(ras, ours.handle));
}

TEST(HangUp, AHandleNamesOnlyItsOwnPppdAndNeverSignalsAnythingElse) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  world.set_scenario({{"mode", "up"}});
  Impostor impostor(true);
  // A broken check could signal process group 0 or -1; the checks run in a process group of their own.
  const pid_t checker = fork();
  if (checker == 0) {
    setpgid(0, 0);
    PppdRasOperations ras(world.roots());
    const DialOutcome ours = dial(ras, dial_params("dsl-provider", "", "u", "p"));
    if (ours.result != ERROR_SUCCESS) _exit(10);
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(ours.handle);
    // The handle's pid with another start time: what a reused pid looks like.
    const HRASCONN reused = reinterpret_cast<HRASCONN>(value ^ (std::uintptr_t{1} << 40));
    const HRASCONN impostor_pid = reinterpret_cast<HRASCONN>(static_cast<std::uintptr_t>(impostor.pid));
    for (HRASCONN handle : {HRASCONN{}, reused, impostor_pid, reinterpret_cast<HRASCONN>(~std::uintptr_t{0}),
                            reinterpret_cast<HRASCONN>(static_cast<std::uintptr_t>(0xffffffffu))}) {
      if (ras.RasHangUpA(handle) != ERROR_INVALID_HANDLE) _exit(11);
      DWORD result = 0;
      state_of(ras, handle, &result);
      if (result != ERROR_INVALID_HANDLE) _exit(12);
    }
    if (!is_live(impostor.pid) || state_of(ras, ours.handle) != RASCS_Connected) _exit(13);
    if (!hang_up_and_wait(ras, ours.handle)) _exit(14);
    // Gone: hanging it up again signals nothing.
    if (ras.RasHangUpA(ours.handle) != ERROR_INVALID_HANDLE) _exit(15);
    _exit(0);
  }
  int status = 0;
  waitpid(checker, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---------------------------------------------------------------------------------------------------
// Notified dial

struct Notifications {
  std::mutex lock;
  std::vector<std::pair<DWORD, DWORD>> seen;  // state, error
  std::vector<std::uint32_t> messages;
};
Notifications* notifications = nullptr;

void record_notification(std::uint32_t message, DWORD state, DWORD error) {
  std::lock_guard<std::mutex> guard(notifications->lock);
  notifications->seen.emplace_back(state, error);
  notifications->messages.push_back(message);
}

std::vector<std::pair<DWORD, DWORD>> seen_so_far() {
  std::lock_guard<std::mutex> guard(notifications->lock);
  return notifications->seen;
}

TEST(NotifiedDial, ReportsOpeningThenConnectedAndTheHandleNamesTheRunningPppd) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  world.set_scenario({{"mode", "nodetach-up"}});
  Notifications seen;
  notifications = &seen;
  {
    PppdRasOperations ras(world.roots());
    // The link comes up only after the dial has returned: it returns once pppd runs.
    const DialOutcome outcome = dial(ras, dial_params("dsl-provider", "", "u", "p"), record_notification);
    ASSERT_EQ(outcome.result, ERROR_SUCCESS);
    ASSERT_NE(outcome.handle, nullptr);
    EXPECT_NE(state_of(ras, outcome.handle), RASCS_Connected);
    std::ofstream(world.record / "go");
    ASSERT_TRUE(eventually([&] { return !world.recorded("argv").empty(); }));
    EXPECT_NE(world.recorded("argv").find(std::string("nodetach\0linkname", 17)), std::string::npos);

    ASSERT_TRUE(eventually([] {
      const auto so_far = seen_so_far();
      return !so_far.empty() && so_far.back().first == RASCS_Connected;
    }));
    const auto so_far = seen_so_far();
    EXPECT_EQ(so_far.front(), std::make_pair(RASCS_OpenPort, DWORD{0}));
    for (const auto& [state, error] : so_far) EXPECT_EQ(error, 0u) << state;
    EXPECT_EQ(state_of(ras, outcome.handle), RASCS_Connected);
    EXPECT_TRUE(hang_up_and_wait(ras, outcome.handle));
  }
  EXPECT_EQ(seen_so_far().back().first, RASCS_Connected) << "nothing is reported after the link came up";
  for (std::uint32_t message : seen.messages) EXPECT_EQ(message, 0xCCCDu);
  notifications = nullptr;
}

TEST(NotifiedDial, ReportsTheErrorWithWhichPppdEnded) {
  PppdWorld world;
  world.add_peer("dsl-provider");
  struct Row {
    int status;
    DWORD state;
    DWORD error;
  };
  const Row rows[] = {
      {19, RASCS_AuthNotify, ERROR_AUTHENTICATION_FAILURE},
      {8, RASCS_ConnectDevice, ERROR_NO_ANSWER},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    Notifications seen;
    notifications = &seen;
    world.set_scenario({{"mode", "exit"}, {"status", std::to_string(row.status)}, {"delay_ms", "300"}});
    {
      PppdRasOperations ras(world.roots());
      EXPECT_EQ(dial(ras, dial_params("dsl-provider", "", "u", "p"), record_notification).result,
                ERROR_SUCCESS);
      EXPECT_TRUE(eventually([] { return !seen_so_far().empty() && seen_so_far().back().second != 0; }));
      EXPECT_EQ(seen_so_far().back(), std::make_pair(row.state, row.error));
    }
    EXPECT_TRUE(world.live_fakes().empty());
    notifications = nullptr;
  }
}

}  // namespace
}  // namespace pppd_test
