// A world of its own for the pppd driver: peers directory, run directories (var/run a link to run, as
// on Debian), a sysfs and /proc/net stand-in, and the fake pppd copied in as bin/pppd.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dialup/ras_pppd.h"

namespace pppd_test {

namespace fs = std::filesystem;

class PppdWorld {
 public:
  PppdWorld();
  ~PppdWorld();
  PppdWorld(const PppdWorld&) = delete;
  PppdWorld& operator=(const PppdWorld&) = delete;

  /// The places of this world, for a driver.
  const adsl::PppdRoots& roots() const { return roots_; }
  void add_peer(const std::string& name, const std::string& content = "noauth\n") const;
  /// Tells the fake what to do next; run, sys, net, record and ifname ppp0 are filled in.
  void set_scenario(std::map<std::string, std::string> settings) const;
  /// Forgets what the fake recorded so far.
  void clear_record() const;

  /// A file the fake recorded, whole, or split at its zero bytes.
  std::string recorded(const std::string& name) const;
  std::vector<std::string> recorded_words(const std::string& name) const;
  /// How many times the fake has been started since the record was cleared.
  int fake_starts() const;
  /// Waits until the fake has written `ready`; its text.
  std::string wait_ready(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) const;
  /// Live (not zombie) processes running this world's fake pppd.
  std::vector<pid_t> live_fakes() const;
  /// Starts the fake directly, as someone else's pppd, and waits for the process it started.
  int run_fake(const std::vector<std::string>& arguments) const;

  fs::path root, peers, run, var_run, sys, net, bin, record, fake;

 private:
  adsl::PppdRoots roots_{};
  std::string peers_text_, run_text_, var_run_text_, sys_text_, proc_text_, net_text_, fake_text_;
};

/// Polls `condition` until it holds or `limit` passes.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

/// Whether a process exists and is not a zombie.
bool is_live(pid_t pid);

/// Dial parameters for an entry (or, with an empty entry, for a phone number).
adsl::RASDIALPARAMSA dial_params(const std::string& entry, const std::string& number, const std::string& user,
                                 const std::string& password);

/// The names the driver lists, or the RAS error it answers.
std::vector<std::string> list_entries(adsl::RasOperations& ras, adsl::DWORD* result = nullptr);
std::vector<adsl::RASCONNA> list_connections(adsl::RasOperations& ras, adsl::DWORD* result = nullptr);

/// The state of a connection; `result` gets the RAS result.
adsl::DWORD state_of(adsl::RasOperations& ras, adsl::HRASCONN handle, adsl::DWORD* result = nullptr);

}  // namespace pppd_test
