#include "recording_service.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace adsl::testing {

std::string environment_value(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool read_whole_file(const std::string& path, std::string& contents) {
  // stdio rather than streams: the same code runs inside a DLL built without exceptions.
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return false;
  }
  contents.clear();
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    contents.append(buffer, n);
  }
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

RecordingService::RecordingService(sim::RasSimulator& simulator, std::string record_path)
    : simulator_(simulator), record_path_(std::move(record_path)) {}

void RecordingService::add_note(const std::string& line) {
  notes_ += line;
  notes_ += '\n';
}

void RecordingService::write_record() const {
  if (record_path_.empty()) {
    return;
  }
  std::FILE* file = std::fopen(record_path_.c_str(), "wb");
  if (file == nullptr) {
    return;
  }
  const std::string text = notes_ + simulator_.record_text();
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

DWORD RecordingService::RasEnumEntriesA(const char* reserved, const char* lpszPhonebook,
                                        RASENTRYNAMEA* lprasentryname, DWORD* lpcb, DWORD* lpcEntries) {
  return recorded(simulator_.RasEnumEntriesA(reserved, lpszPhonebook, lprasentryname, lpcb, lpcEntries));
}

DWORD RecordingService::RasDialA(const void* lpRasDialExtensions, const char* lpszPhonebook,
                                 RASDIALPARAMSA* lpRasDialParams, DWORD dwNotifierType,
                                 RasDialNotifier lpvNotifier, HRASCONN* lphRasConn) {
  return recorded(simulator_.RasDialA(lpRasDialExtensions, lpszPhonebook, lpRasDialParams, dwNotifierType,
                                      lpvNotifier, lphRasConn));
}

DWORD RecordingService::RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus) {
  return recorded(simulator_.RasGetConnectStatusA(hrasconn, lprasconnstatus));
}

DWORD RecordingService::RasEnumConnectionsA(RASCONNA* lprasconn, DWORD* lpcb, DWORD* lpcConnections) {
  return recorded(simulator_.RasEnumConnectionsA(lprasconn, lpcb, lpcConnections));
}

DWORD RecordingService::RasHangUpA(HRASCONN hrasconn) {
  return recorded(simulator_.RasHangUpA(hrasconn));
}

NativeWindow RecordingService::resolve(const StatusWindow& window) {
  return recorded(simulator_.resolve(window));
}

bool RecordingService::IsWindow(NativeWindow window) {
  return recorded(simulator_.IsWindow(window));
}

void RecordingService::SetWindowTextA(NativeWindow window, const char* text) {
  simulator_.SetWindowTextA(window, text);
  write_record();
}

void RecordingService::InvalidateRect(NativeWindow window) {
  simulator_.InvalidateRect(window);
  write_record();
}

}  // namespace adsl::testing
