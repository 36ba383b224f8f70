// The five RAS operations on Linux, carried out by pppd. The phone book is the peers directory
// (/etc/ppp/peers), a dial runs `pppd call ENTRY`, and a connection is a running pppd found through its
// pid files. Every place the driver looks at is a constructor parameter, so tests can point it at a
// world of their own; the program hands it the system's own and reads no configuration of its own.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "dialup/ras.h"

namespace adsl {

/// RAS result codes this driver answers with besides those of dialup/ras.h (same values as Windows).
namespace pppd_ras_codes {
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_CANNOT_OPEN_PHONEBOOK = 621;
constexpr DWORD ERROR_DISCONNECTION = 628;
constexpr DWORD ERROR_USER_DISCONNECTION = 631;
constexpr DWORD ERROR_PORT_NOT_AVAILABLE = 633;
constexpr DWORD ERROR_UNKNOWN = 635;
constexpr DWORD ERROR_PPP_LCP_TERMINATED = 734;
constexpr DWORD ERROR_PPP_LOOPBACK_DETECTED = 737;
}  // namespace pppd_ras_codes

/// Where the driver finds pppd and what pppd leaves on the machine. The texts are not copied: they
/// must outlive the driver.
struct PppdRoots {
  /// The phone book: one peer file per entry, as `pppd call` reads them (/etc/ppp/peers).
  const char* peers_directory;
  /// Where pppd writes its pid files (/run and /var/run, often the same place); null for none.
  const char* run_directories[2];
  /// sysfs (/sys): the state and flags of the ppp interfaces.
  const char* sysfs_root;
  /// procfs (/proc): which processes are live pppds.
  const char* procfs_root;
  /// The network view of procfs (/proc/net): `route` and `if_inet6` tell whether an interface has an
  /// address.
  const char* proc_net_directory;
  /// The pppd program (/usr/sbin/pppd).
  const char* pppd_path;
  /// The descriptor that receives pppd's standard output and error; -1 sends them to /dev/null.
  int pppd_output = -1;
};

/// The system's own places, as Debian's ppp package lays them out.
PppdRoots system_pppd_roots();

/// The RAS operations over pppd.
///
/// Phone book: the regular files of the peers directory in byte order of their names, without hidden
/// files, backups (~, .bak, .orig, .dpkg-*, .ucf-*) and names longer than an entry name holds.
///
/// Dial: `pppd call ENTRY file /dev/fd/3 maxfail 1 updetach linkname adsl-PID-N` (nodetach instead of
/// updetach when a notifier is given), the user name and password read by pppd from a pipe on
/// descriptor 3 and never in any argv, environment or file. A phone number (no entry name) is dialed
/// through the `provider` peer with chat's telephone number set to it.
///
/// Handles name a pppd process (its pid and start time), so they stay valid after this process ends
/// and turn invalid as soon as that pppd has exited; a pid reused by another process never matches.
class PppdRasOperations final : public RasOperations {
 public:
  explicit PppdRasOperations(const PppdRoots& roots);
  /// Waits for the watchers of notified dials, which end when their pppd does.
  ~PppdRasOperations() override;
  PppdRasOperations(const PppdRasOperations&) = delete;
  PppdRasOperations& operator=(const PppdRasOperations&) = delete;

  DWORD RasEnumEntriesA(const char* reserved, const char* lpszPhonebook, RASENTRYNAMEA* lprasentryname,
                        DWORD* lpcb, DWORD* lpcEntries) override;
  /// Synchronous: 0 once pppd has detached with the link up, the handle naming the detached daemon.
  /// Otherwise pppd's exit status as the RAS code of the same meaning, no handle, and no pppd of ours
  /// left running. Notified: 0 once pppd has started, progress reported from a watcher thread.
  DWORD RasDialA(const void* lpRasDialExtensions, const char* lpszPhonebook, RASDIALPARAMSA* lpRasDialParams,
                 DWORD dwNotifierType, RasDialNotifier lpvNotifier, HRASCONN* lphRasConn) override;
  /// RASCS_Connected while the pppd's interface is up and running with an address; a dialing state
  /// before that; ERROR_INVALID_HANDLE once that pppd has gone.
  DWORD RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus) override;
  /// Every live pppd named by a pid file (ppp*.pid) in the run directories, each once, by pid.
  DWORD RasEnumConnectionsA(RASCONNA* lprasconn, DWORD* lpcb, DWORD* lpcConnections) override;
  /// SIGTERM to that pppd, only while it is still the live pppd the handle names.
  DWORD RasHangUpA(HRASCONN hrasconn) override;

  /// The wait status of the last pppd a dial started and saw end (-1 when none has), for diagnostics.
  int last_pppd_wait_status() const { return last_wait_status_.load(); }

 private:
  /// One notified dial being watched by a thread of its own.
  struct Watch {
    std::atomic<int> state{0};  // kFree, kRunning or kFinished (not yet joined)
    pthread_t thread{};
    pid_t pid = 0;
    RasDialNotifier notifier = nullptr;
    PppdRasOperations* driver = nullptr;
  };
  static void* watch_main(void* argument);

  DWORD dial(const RASDIALPARAMSA& params, RasDialNotifier notifier, HRASCONN* lphRasConn);
  Watch* claim_watch();

  PppdRoots roots_;
  std::atomic<int> last_wait_status_{-1};
  std::uint32_t dials_ = 0;
  static constexpr int kWatchCount = 4;
  Watch watches_[kWatchCount];
};

/// Writes `bytes` as one word of pppd's options-file syntax into `out` (zero-terminated): in double
/// quotes, with backslash before every backslash and double quote, so that pppd reads back exactly
/// these bytes, spaces, '#', quotes, control bytes and bytes 0x80 and above included. False when the
/// word does not fit `capacity`.
bool quote_pppd_word(const char* bytes, char* out, std::size_t capacity);

/// The driver over the system's own places, made on first use and never destroyed.
RasOperations& system_pppd_ras_operations();

}  // namespace adsl
