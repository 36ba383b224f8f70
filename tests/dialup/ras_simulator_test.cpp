// The simulated RAS service itself: what end-to-end tests rely on when they drive it through scenario
// files and read its call record, and the checks of Windows that it must make.
#include "ras_simulator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace adsl::sim {
namespace {

std::filesystem::path temp_file(const std::string& name) {
  return std::filesystem::path(::testing::TempDir()) / ("dialup-" + name + "-" + std::to_string(::getpid()));
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

RASCONNSTATUSA status_structure() {
  RASCONNSTATUSA status;
  std::memset(&status, 0, sizeof status);
  status.dwSize = sizeof status;
  return status;
}

DWORD query(RasSimulator& sim, HRASCONN handle) {
  RASCONNSTATUSA status = status_structure();
  return sim.RasGetConnectStatusA(handle, &status);
}

DWORD enumerate_connections(RasSimulator& sim, DWORD& count) {
  RASCONNA list[38];
  std::memset(list, 0, sizeof list);
  list[0].dwSize = sizeof(RASCONNA);
  DWORD bytes = sizeof list;
  count = 0;
  return sim.RasEnumConnectionsA(list, &bytes, &count);
}

DWORD dial(RasSimulator& sim, const char* entry, HRASCONN& handle) {
  RASDIALPARAMSA params;
  std::memset(&params, 0, sizeof params);
  params.dwSize = sizeof params;
  std::strncpy(params.szEntryName, entry, sizeof params.szEntryName - 1);
  handle = nullptr;
  return sim.RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle);
}

TEST(RasSimulator, ScenarioFileSetsUpTheService) {
  const std::filesystem::path path = temp_file("scenario");
  {
    std::ofstream file(path, std::ios::binary);
    file << "# phone book\n"
            "entry dsl\\x20provider\n"
            "entry back\\\\slash\\xb5\\xda\r\n"
            "\n"
            "connection connected entry dsl\\x20provider\n"
            "  connection\tauthenticate vanish-after 2\n"
            "connection 0x2000 never status-error 87 repeat 2\n"
            "dial result 691 writes-handle vanish-after 1\n"
            "dial result 0 state open-port\n"
            "fail RasEnumConnectionsA 603 times 2\n"
            "fail RasHangUpA 5 always\n"
            "clock start 0xFFFFFFF0 step 7 yield-step 3\n";
  }
  RasSimulator sim;
  ASSERT_TRUE(sim.load_scenario(path.string())) << sim.error();
  std::filesystem::remove(path);

  EXPECT_EQ(sim.phone_book(), (std::vector<std::string>{"dsl provider", "back\\slash\xb5\xda"}));
  ASSERT_EQ(sim.connections().size(), 4u);
  const Connection& first = sim.connections()[0];
  EXPECT_EQ(first.entry_name, "dsl provider");
  EXPECT_EQ(first.state, RASCS_Connected);
  EXPECT_EQ(sim.connections()[1].state, RASCS_Authenticate);
  EXPECT_EQ(sim.connections()[1].vanish_after, 2);
  for (int i : {2, 3}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sim.connections()[i].vanish_after, -1);
    EXPECT_EQ(sim.connections()[i].status_error, 87u);
    EXPECT_EQ(query(sim, sim.connections()[i].handle), 87u);
  }

  // The scripted results come first, then the service answers for itself.
  DWORD count = 0;
  EXPECT_EQ(enumerate_connections(sim, count), 603u);
  EXPECT_EQ(enumerate_connections(sim, count), 603u);
  EXPECT_EQ(enumerate_connections(sim, count), 0u);
  EXPECT_EQ(count, 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sim.RasHangUpA(first.handle), 5u);
  }

  // Dial outcomes are used one per call, then dials of known entries succeed.
  HRASCONN handle = nullptr;
  EXPECT_EQ(dial(sim, "dsl provider", handle), 691u);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(sim.find(handle)->state, RASCS_Disconnected);
  EXPECT_EQ(sim.find(handle)->vanish_after, 1);
  EXPECT_EQ(dial(sim, "dsl provider", handle), 0u);
  EXPECT_EQ(sim.find(handle)->state, RASCS_OpenPort);
  EXPECT_EQ(dial(sim, "dsl provider", handle), 0u);
  EXPECT_EQ(sim.find(handle)->state, RASCS_Connected);
  EXPECT_EQ(dial(sim, "no such entry", handle), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
  EXPECT_EQ(handle, nullptr);

  EXPECT_EQ(sim.tick_count(), 0xFFFFFFF0u);
  sim.yield();
  EXPECT_EQ(sim.tick_count(), 0xFFFFFFFAu);
  EXPECT_EQ(sim.tick_count(), 1u) << "the counter wraps";
}

TEST(RasSimulator, ScenarioErrorsNameTheLine) {
  struct Row {
    std::string text;
    const char* error_start;
  };
  const Row rows[] = {
      {"entry", "line 1:"},
      {"entry a b", "line 1:"},
      {"entry ok\nconnection sleeping", "line 2:"},
      {"connection connected vanish-after", "line 1:"},
      {"connection connected colour blue", "line 1:"},
      {"dial 691", "line 1:"},
      {"dial result x", "line 1:"},
      {"fail RasFoo 5", "line 1:"},
      {"fail RasHangUpA", "line 1:"},
      {"fail RasHangUpA 5 times 0", "line 1:"},
      {"clock start", "line 1:"},
      {"# fine\n\nentry bad\\q", "line 3:"},
      {"entry bad\\x4", "line 1:"},
      {"hang-up everything", "line 1:"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    RasSimulator sim;
    EXPECT_FALSE(sim.load_scenario_text(row.text));
    EXPECT_EQ(sim.error().rfind(row.error_start, 0), 0u) << sim.error();
  }
  RasSimulator sim;
  EXPECT_FALSE(sim.load_scenario("/nonexistent/scenario.txt"));
  EXPECT_FALSE(sim.error().empty());
}

TEST(RasSimulator, RecordFileHasOneLinePerCallWithBytesMadeVisible) {
  RasSimulator sim;
  sim.add_entry("dsl provider");
  NativeWindow window = sim.create_window();

  RASENTRYNAMEA listing[38];
  std::memset(listing, 0, sizeof listing);
  listing[0].dwSize = sizeof(RASENTRYNAMEA);
  DWORD bytes = sizeof listing;
  DWORD entries = 0;
  sim.RasEnumEntriesA(nullptr, nullptr, listing, &bytes, &entries);

  RASDIALPARAMSA params;
  std::memset(&params, 0, sizeof params);
  params.dwSize = sizeof params;
  std::strcpy(params.szEntryName, "dsl provider");
  std::strcpy(params.szUserName, "a=b\\c");
  std::strcpy(params.szPassword, "\x7f\xff\x01 x");
  HRASCONN handle = nullptr;
  sim.RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle);
  RASCONNSTATUSA status = status_structure();
  sim.RasGetConnectStatusA(handle, &status);
  DWORD count = 0;
  enumerate_connections(sim, count);
  sim.RasHangUpA(handle);
  sim.IsWindow(window);
  sim.SetWindowTextA(window, "\xc1\xac\xbd\xd3");
  sim.InvalidateRect(window);
  sim.resolve(StatusWindow{nullptr});

  const std::string list_bytes = std::to_string(38 * sizeof(RASCONNA));
  const std::string expected =
      "RasEnumEntriesA reserved=null phonebook=null dwSize=264 lpcb=10032 entries=0 -> 0 lpcb=10032 "
      "entries=1\n"
      "RasDialA extensions=null phonebook=null dwSize=1052 szEntryName=dsl\\x20provider szPhoneNumber= "
      "szCallbackNumber= szUserName=a=b\\x5cc szPassword=\\x7f\\xff\\x01\\x20x szDomain= dwNotifierType=0 "
      "notifier=none hrasconn=null -> 0 hrasconn=1\n"
      "RasGetConnectStatusA hrasconn=1 dwSize=160 -> 0 rasconnstate=0x2000\n"
      "RasEnumConnectionsA dwSize=" +
      std::to_string(sizeof(RASCONNA)) + " lpcb=" + list_bytes + " connections=0 -> 0 lpcb=" + list_bytes +
      " connections=1\n"
      "RasHangUpA hrasconn=1 -> 0\n"
      "IsWindow hwnd=1 -> 1\n"
      "SetWindowTextA hwnd=1 text=\\xc1\\xac\\xbd\\xd3\n"
      "InvalidateRect hwnd=1 rect=null erase=1\n"
      "resolve window=null -> 0\n";
  const std::filesystem::path path = temp_file("record");
  ASSERT_TRUE(sim.write_record(path.string()));
  EXPECT_EQ(read_file(path), expected);
  std::filesystem::remove(path);
  EXPECT_FALSE(sim.write_record("/nonexistent/dir/record.txt"));
}

TEST(RasSimulator, MakesTheSizeChecksOfWindows) {
  RasSimulator sim;
  for (int i = 0; i < 39; ++i) {
    sim.add_entry("entry" + std::to_string(i));
    sim.add_connection(RASCS_Connected);
  }
  // 39 elements do not fit 38: the needed size comes back with the count.
  RASENTRYNAMEA listing[38];
  std::memset(listing, 0, sizeof listing);
  listing[0].dwSize = sizeof(RASENTRYNAMEA);
  DWORD bytes = sizeof listing;
  DWORD count = 0;
  EXPECT_EQ(sim.RasEnumEntriesA(nullptr, nullptr, listing, &bytes, &count), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(bytes, 39 * sizeof(RASENTRYNAMEA));
  EXPECT_EQ(count, 39u);
  EXPECT_EQ(listing[0].szEntryName[0], '\0') << "nothing filled";

  RASCONNA list[38];
  std::memset(list, 0, sizeof list);
  list[0].dwSize = sizeof(RASCONNA);
  bytes = sizeof list;
  count = 0;
  EXPECT_EQ(sim.RasEnumConnectionsA(list, &bytes, &count), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(bytes, 39 * sizeof(RASCONNA));
  EXPECT_EQ(count, 39u);

  // A dwSize other than the WINVER 0x400 size of this build.
  listing[0].dwSize = 532;
  bytes = sizeof listing;
  EXPECT_EQ(sim.RasEnumEntriesA(nullptr, nullptr, listing, &bytes, &count), ERROR_INVALID_SIZE);
  list[0].dwSize = 704;
  bytes = sizeof list;
  EXPECT_EQ(sim.RasEnumConnectionsA(list, &bytes, &count), ERROR_INVALID_SIZE);
  RASCONNSTATUSA status = status_structure();
  status.dwSize = 288;
  EXPECT_EQ(sim.RasGetConnectStatusA(sim.connections()[0].handle, &status), ERROR_INVALID_SIZE);
  RASDIALPARAMSA params;
  std::memset(&params, 0, sizeof params);
  params.dwSize = 1060;
  HRASCONN handle = nullptr;
  EXPECT_EQ(sim.RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle), ERROR_INVALID_SIZE);
  EXPECT_EQ(handle, nullptr);
}

TEST(RasSimulator, HandlesGoAfterTheirQueriesOrNever) {
  RasSimulator sim;
  HRASCONN going = sim.add_connection(RASCS_Connected, 2);
  HRASCONN staying = sim.add_connection(RASCS_Connected, -1);
  // Queries before the hang-up do not count.
  EXPECT_EQ(query(sim, going), 0u);
  EXPECT_EQ(sim.RasHangUpA(going), 0u);
  EXPECT_EQ(sim.RasHangUpA(staying), 0u);
  EXPECT_EQ(query(sim, going), 0u);
  DWORD count = 0;
  ASSERT_EQ(enumerate_connections(sim, count), 0u);
  EXPECT_EQ(count, 2u) << "hung up but not yet gone: still listed";
  EXPECT_EQ(query(sim, going), 0u);
  EXPECT_EQ(query(sim, going), ERROR_INVALID_HANDLE);
  EXPECT_EQ(query(sim, going), ERROR_INVALID_HANDLE);
  EXPECT_EQ(sim.RasHangUpA(going), ERROR_INVALID_HANDLE);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(query(sim, staying), 0u);
  }
  ASSERT_EQ(enumerate_connections(sim, count), 0u);
  EXPECT_EQ(count, 1u);
}

}  // namespace
}  // namespace adsl::sim
