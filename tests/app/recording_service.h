// The simulated RAS service as a whole program or a test rasapi32.dll sees it: every call goes to a
// RasSimulator and the whole call record is written to a file after each call, because the dial way
// ends the process without exit-time processing and a record kept for the end would be lost.
//
// Both the test build of the program and the test rasapi32.dll take their scenario from the file named
// by ADSL_SIM_SCENARIO and write their record to the file named by ADSL_SIM_RECORD.
#pragma once

#include <string>

#include "dialup/ras.h"
#include "ras_simulator.h"

namespace adsl::testing {

constexpr char kScenarioVariable[] = "ADSL_SIM_SCENARIO";
constexpr char kRecordVariable[] = "ADSL_SIM_RECORD";

/// The value of an environment variable; empty when it is not set.
std::string environment_value(const char* name);

/// The whole content of a file; false when it cannot be read.
bool read_whole_file(const std::string& path, std::string& contents);

class RecordingService final : public RasOperations, public StatusWindows {
 public:
  /// An empty `record_path` records nothing to disk.
  RecordingService(sim::RasSimulator& simulator, std::string record_path);

  /// A line written ahead of the calls, such as why the scenario could not be loaded, so a test that
  /// reads the record sees it instead of a silently empty service.
  void add_note(const std::string& line);
  /// Writes the notes and the call record so far, replacing what the file held.
  void write_record() const;

  DWORD RasEnumEntriesA(const char* reserved, const char* lpszPhonebook, RASENTRYNAMEA* lprasentryname,
                        DWORD* lpcb, DWORD* lpcEntries) override;
  DWORD RasDialA(const void* lpRasDialExtensions, const char* lpszPhonebook, RASDIALPARAMSA* lpRasDialParams,
                 DWORD dwNotifierType, RasDialNotifier lpvNotifier, HRASCONN* lphRasConn) override;
  DWORD RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus) override;
  DWORD RasEnumConnectionsA(RASCONNA* lprasconn, DWORD* lpcb, DWORD* lpcConnections) override;
  DWORD RasHangUpA(HRASCONN hrasconn) override;

  NativeWindow resolve(const StatusWindow& window) override;
  bool IsWindow(NativeWindow window) override;
  void SetWindowTextA(NativeWindow window, const char* text) override;
  void InvalidateRect(NativeWindow window) override;

 private:
  template <typename Result>
  Result recorded(Result result) const {
    write_record();
    return result;
  }

  sim::RasSimulator& simulator_;
  std::string record_path_;
  std::string notes_;
};

}  // namespace adsl::testing
