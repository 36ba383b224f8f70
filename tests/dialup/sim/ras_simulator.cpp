#include "ras_simulator.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace adsl::sim {

namespace {

constexpr DWORD kWmRasDialEvent = 0xCCCD;
constexpr DWORD kErrorInvalidParameter = 87;

std::string handle_text(const void* handle) {
  if (handle == nullptr) {
    return "null";
  }
  return std::to_string(reinterpret_cast<std::uintptr_t>(handle));
}

std::string hex(DWORD value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(value));
  return buffer;
}

/// The bytes of a fixed-width field up to its terminating zero, or all of them when it has none.
template <std::size_t Width>
std::string field_text(const char (&field)[Width]) {
  std::size_t length = 0;
  while (length < Width && field[length] != '\0') {
    ++length;
  }
  return std::string(field, length);
}

template <std::size_t Width>
void set_field(char (&field)[Width], const std::string& text) {
  const std::size_t length = text.size() < Width - 1 ? text.size() : Width - 1;
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

struct StateName {
  const char* name;
  DWORD state;
};
constexpr StateName kStateNames[] = {
    {"open-port", RASCS_OpenPort},
    {"port-opened", RASCS_PortOpened},
    {"connect-device", RASCS_ConnectDevice},
    {"device-connected", RASCS_DeviceConnected},
    {"all-devices-connected", RASCS_AllDevicesConnected},
    {"authenticate", RASCS_Authenticate},
    {"auth-notify", RASCS_AuthNotify},
    {"authenticated", RASCS_Authenticated},
    {"connected", RASCS_Connected},
    {"disconnected", RASCS_Disconnected},
};

constexpr Call kRasCalls[] = {Call::RasEnumEntriesA, Call::RasDialA, Call::RasGetConnectStatusA,
                              Call::RasEnumConnectionsA, Call::RasHangUpA};

bool parse_number(const std::string& word, DWORD& value) {
  if (word.empty()) {
    return false;
  }
  const bool is_hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
  const unsigned base = is_hex ? 16 : 10;
  std::uint64_t result = 0;
  for (std::size_t i = is_hex ? 2 : 0; i < word.size(); ++i) {
    const char c = word[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (is_hex && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (is_hex && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    result = result * base + digit;
    if (result > 0xFFFFFFFFu) {
      return false;
    }
  }
  value = static_cast<DWORD>(result);
  return true;
}

bool parse_count(const std::string& word, int& value) {
  DWORD number = 0;
  if (!parse_number(word, number) || number > 1000000) {
    return false;
  }
  value = static_cast<int>(number);
  return true;
}

bool parse_state(const std::string& word, DWORD& state) {
  for (const StateName& entry : kStateNames) {
    if (word == entry.name) {
      state = entry.state;
      return true;
    }
  }
  return parse_number(word, state);
}

bool parse_call(const std::string& word, Call& call) {
  for (Call candidate : kRasCalls) {
    if (word == call_name(candidate)) {
      call = candidate;
      return true;
    }
  }
  return false;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// Splits a scenario line into words, resolving \xHH and \\; false on a malformed escape.
bool split_words(const std::string& line, std::vector<std::string>& words) {
  words.clear();
  std::string word;
  bool in_word = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      if (in_word) {
        words.push_back(word);
        word.clear();
        in_word = false;
      }
      continue;
    }
    in_word = true;
    if (c != '\\') {
      word += c;
      continue;
    }
    if (i + 1 < line.size() && line[i + 1] == '\\') {
      word += '\\';
      ++i;
      continue;
    }
    if (i + 3 < line.size() && line[i + 1] == 'x' && hex_digit(line[i + 2]) >= 0 &&
        hex_digit(line[i + 3]) >= 0) {
      word += static_cast<char>(hex_digit(line[i + 2]) * 16 + hex_digit(line[i + 3]));
      i += 3;
      continue;
    }
    return false;
  }
  if (in_word) {
    words.push_back(word);
  }
  return true;
}

}  // namespace

const char* call_name(Call call) {
  switch (call) {
    case Call::RasEnumEntriesA:
      return "RasEnumEntriesA";
    case Call::RasDialA:
      return "RasDialA";
    case Call::RasGetConnectStatusA:
      return "RasGetConnectStatusA";
    case Call::RasEnumConnectionsA:
      return "RasEnumConnectionsA";
    case Call::RasHangUpA:
      return "RasHangUpA";
    case Call::resolve:
      return "resolve";
    case Call::IsWindow:
      return "IsWindow";
    case Call::SetWindowTextA:
      return "SetWindowTextA";
    case Call::InvalidateRect:
      return "InvalidateRect";
    case Call::GetTickCount:
      return "GetTickCount";
    case Call::Sleep:
      return "Sleep";
  }
  return "?";
}

std::string escape_bytes(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x21 || byte > 0x7e || byte == '\\') {
      char buffer[5];
      std::snprintf(buffer, sizeof buffer, "\\x%02x", byte);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out;
}

std::string CallRecord::line() const {
  std::string out = call_name(call);
  auto add = [&out](const char* name, const std::string& value) {
    out += ' ';
    out += name;
    out += '=';
    out += value;
  };
  auto null_or_given = [](bool is_null) { return std::string(is_null ? "null" : "given"); };
  switch (call) {
    case Call::RasEnumEntriesA:
    case Call::RasEnumConnectionsA: {
      const bool entries = call == Call::RasEnumEntriesA;
      if (entries) {
        add("reserved", null_or_given(reserved_null));
        add("phonebook", null_or_given(phonebook_null));
      }
      const char* count_name = entries ? "entries" : "connections";
      add("dwSize", std::to_string(dw_size));
      add("lpcb", std::to_string(lpcb_in));
      add(count_name, std::to_string(count_in));
      out += " -> " + std::to_string(result);
      add("lpcb", std::to_string(lpcb_out));
      add(count_name, std::to_string(count_out));
      break;
    }
    case Call::RasDialA:
      add("extensions", null_or_given(extensions_null));
      add("phonebook", null_or_given(phonebook_null));
      add("dwSize", std::to_string(dw_size));
      add("szEntryName", escape_bytes(entry_name));
      add("szPhoneNumber", escape_bytes(phone_number));
      add("szCallbackNumber", escape_bytes(callback_number));
      add("szUserName", escape_bytes(user_name));
      add("szPassword", escape_bytes(password));
      add("szDomain", escape_bytes(domain));
      add("dwNotifierType", std::to_string(notifier_type));
      add("notifier", notifier ? "given" : "none");
      add("hrasconn", handle_text(handle_in));
      out += " -> " + std::to_string(result);
      add("hrasconn", handle_text(handle));
      break;
    case Call::RasGetConnectStatusA:
      add("hrasconn", handle_text(handle));
      add("dwSize", std::to_string(dw_size));
      out += " -> " + std::to_string(result);
      if (result == ERROR_SUCCESS) {
        add("rasconnstate", hex(rasconnstate));
      }
      break;
    case Call::RasHangUpA:
      add("hrasconn", handle_text(handle));
      out += " -> " + std::to_string(result);
      break;
    case Call::resolve:
      add("window", handle_text(window));
      out += " -> " + std::to_string(result);
      break;
    case Call::IsWindow:
      add("hwnd", handle_text(window));
      out += " -> " + std::to_string(result);
      break;
    case Call::SetWindowTextA:
      add("hwnd", handle_text(window));
      add("text", escape_bytes(text));
      break;
    case Call::InvalidateRect:
      add("hwnd", handle_text(window));
      add("rect", "null");
      add("erase", "1");
      break;
    case Call::GetTickCount:
      out += " -> " + std::to_string(result);
      break;
    case Call::Sleep:
      out += " 0";
      break;
  }
  return out;
}

void RasSimulator::reset() {
  phone_book_.clear();
  connections_.clear();
  dial_outcomes_.clear();
  scripts_.clear();
  windows_.clear();
  calls_.clear();
  notifier_ = nullptr;
  next_handle_ = 1;
  next_window_ = 1;
  error_.clear();
  tick = 0;
  tick_step = 1;
  yield_step = 0;
  record_clock = false;
  tick_count_calls = 0;
  yield_calls = 0;
  on_call = nullptr;
}

HRASCONN RasSimulator::issue_handle() {
  return reinterpret_cast<HRASCONN>(next_handle_++);
}

HRASCONN RasSimulator::add_connection(DWORD state, int vanish_after, std::string entry_name) {
  Connection connection;
  connection.handle = issue_handle();
  connection.entry_name = std::move(entry_name);
  connection.state = state;
  connection.vanish_after = vanish_after;
  connections_.push_back(connection);
  return connection.handle;
}

Connection* RasSimulator::find(HRASCONN handle) {
  if (handle == nullptr) {
    return nullptr;
  }
  for (Connection& connection : connections_) {
    if (connection.handle == handle) {
      return &connection;
    }
  }
  return nullptr;
}

std::vector<const Connection*> RasSimulator::listed_connections() const {
  std::vector<const Connection*> listed;
  for (const Connection& connection : connections_) {
    listed.push_back(&connection);
  }
  return listed;
}

void RasSimulator::script_result(Call call, DWORD result, int times, std::optional<DWORD> count) {
  scripts_.push_back({call, Scripted{result, times, count}});
}

std::optional<RasSimulator::Scripted> RasSimulator::take_script(Call call) {
  for (auto it = scripts_.begin(); it != scripts_.end(); ++it) {
    if (it->first != call) {
      continue;
    }
    Scripted scripted = it->second;
    if (it->second.times > 0 && --it->second.times == 0) {
      scripts_.erase(it);
    }
    return scripted;
  }
  return std::nullopt;
}

bool RasSimulator::notify(DWORD rasconnstate, DWORD error) {
  if (notifier_ == nullptr) {
    return false;
  }
  notifier_(kWmRasDialEvent, rasconnstate, error);
  return true;
}

NativeWindow RasSimulator::create_window() {
  NativeWindow handle = reinterpret_cast<NativeWindow>(next_window_++);
  windows_.push_back({handle, true, {}});
  return handle;
}

void RasSimulator::destroy_window(NativeWindow window) {
  for (Window& known : windows_) {
    if (known.handle == window) {
      known.exists = false;
    }
  }
}

bool RasSimulator::window_exists(NativeWindow window) const {
  for (const Window& known : windows_) {
    if (known.handle == window) {
      return known.exists;
    }
  }
  return false;
}

std::string RasSimulator::window_text(NativeWindow window) const {
  for (const Window& known : windows_) {
    if (known.handle == window) {
      return known.text;
    }
  }
  return {};
}

std::vector<CallRecord> RasSimulator::calls_of(Call call) const {
  std::vector<CallRecord> selected;
  for (const CallRecord& record : calls_) {
    if (record.call == call) {
      selected.push_back(record);
    }
  }
  return selected;
}

std::string RasSimulator::record_text() const {
  std::string text;
  for (const CallRecord& record : calls_) {
    text += record.line();
    text += '\n';
  }
  return text;
}

bool RasSimulator::write_record(const std::string& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    return false;
  }
  file << record_text();
  file.flush();
  return static_cast<bool>(file);
}

CallRecord& RasSimulator::begin(Call call) {
  if (on_call) {
    on_call(call);
  }
  CallRecord record;
  record.call = call;
  calls_.push_back(std::move(record));
  return calls_.back();
}

DWORD RasSimulator::RasEnumEntriesA(const char* reserved, const char* lpszPhonebook,
                                    RASENTRYNAMEA* lprasentryname, DWORD* lpcb, DWORD* lpcEntries) {
  CallRecord& record = begin(Call::RasEnumEntriesA);
  record.reserved_null = reserved == nullptr;
  record.phonebook_null = lpszPhonebook == nullptr;
  record.dw_size = lprasentryname != nullptr ? lprasentryname->dwSize : 0;
  record.lpcb_in = lpcb != nullptr ? *lpcb : 0;
  record.count_in = lpcEntries != nullptr ? *lpcEntries : 0;
  auto finish = [&](DWORD result) {
    record.result = result;
    record.lpcb_out = lpcb != nullptr ? *lpcb : 0;
    record.count_out = lpcEntries != nullptr ? *lpcEntries : 0;
    return result;
  };
  if (std::optional<Scripted> scripted = take_script(Call::RasEnumEntriesA)) {
    if (scripted->count && lpcEntries != nullptr) {
      *lpcEntries = *scripted->count;
    }
    return finish(scripted->result);
  }
  if (lpcb == nullptr || lpcEntries == nullptr) {
    return finish(kErrorInvalidParameter);
  }
  if (lprasentryname == nullptr || lprasentryname->dwSize != sizeof(RASENTRYNAMEA)) {
    return finish(ERROR_INVALID_SIZE);
  }
  const DWORD count = static_cast<DWORD>(phone_book_.size());
  const DWORD needed = count * static_cast<DWORD>(sizeof(RASENTRYNAMEA));
  if (*lpcb < needed) {
    *lpcb = needed;
    *lpcEntries = count;
    return finish(ERROR_BUFFER_TOO_SMALL);
  }
  for (DWORD i = 0; i < count; ++i) {
    RASENTRYNAMEA& element = lprasentryname[i];
    std::memset(&element, 0, sizeof element);
    element.dwSize = sizeof(RASENTRYNAMEA);
    set_field(element.szEntryName, phone_book_[i]);
  }
  *lpcEntries = count;
  return finish(ERROR_SUCCESS);
}

DWORD RasSimulator::RasDialA(const void* lpRasDialExtensions, const char* lpszPhonebook,
                             RASDIALPARAMSA* lpRasDialParams, DWORD dwNotifierType,
                             RasDialNotifier lpvNotifier, HRASCONN* lphRasConn) {
  CallRecord& record = begin(Call::RasDialA);
  record.extensions_null = lpRasDialExtensions == nullptr;
  record.phonebook_null = lpszPhonebook == nullptr;
  record.notifier_type = dwNotifierType;
  record.notifier = lpvNotifier != nullptr;
  record.handle_in = lphRasConn != nullptr ? *lphRasConn : nullptr;
  record.params_address = lpRasDialParams;
  if (lpRasDialParams != nullptr) {
    const RASDIALPARAMSA& params = *lpRasDialParams;
    record.dw_size = params.dwSize;
    record.entry_name = field_text(params.szEntryName);
    record.phone_number = field_text(params.szPhoneNumber);
    record.callback_number = field_text(params.szCallbackNumber);
    record.user_name = field_text(params.szUserName);
    record.password = field_text(params.szPassword);
    record.domain = field_text(params.szDomain);
    const auto* bytes = reinterpret_cast<const unsigned char*>(lpRasDialParams);
    record.params_bytes.assign(bytes, bytes + sizeof(RASDIALPARAMSA));
  }
  auto finish = [&](DWORD result) {
    record.result = result;
    record.handle = lphRasConn != nullptr ? *lphRasConn : nullptr;
    return result;
  };
  if (std::optional<Scripted> scripted = take_script(Call::RasDialA)) {
    return finish(scripted->result);
  }
  if (lpRasDialParams == nullptr || lphRasConn == nullptr) {
    return finish(kErrorInvalidParameter);
  }
  if (lpRasDialParams->dwSize != sizeof(RASDIALPARAMSA)) {
    return finish(ERROR_INVALID_SIZE);
  }
  if (lpvNotifier != nullptr) {
    notifier_ = lpvNotifier;
  }
  DialOutcome outcome;
  if (!dial_outcomes_.empty()) {
    outcome = dial_outcomes_.front();
    dial_outcomes_.pop_front();
  } else if (!record.entry_name.empty()) {
    bool known = false;
    for (const std::string& entry : phone_book_) {
      known = known || entry == record.entry_name;
    }
    if (!known) {
      outcome.result = ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    }
  }
  if (outcome.result == ERROR_SUCCESS || outcome.writes_handle) {
    const DWORD state =
        outcome.state.value_or(outcome.result == ERROR_SUCCESS ? RASCS_Connected : RASCS_Disconnected);
    *lphRasConn = add_connection(state, outcome.vanish_after, record.entry_name);
  }
  return finish(outcome.result);
}

DWORD RasSimulator::RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus) {
  CallRecord& record = begin(Call::RasGetConnectStatusA);
  record.handle = hrasconn;
  record.dw_size = lprasconnstatus != nullptr ? lprasconnstatus->dwSize : 0;
  auto finish = [&](DWORD result) {
    record.result = result;
    return result;
  };
  if (std::optional<Scripted> scripted = take_script(Call::RasGetConnectStatusA)) {
    return finish(scripted->result);
  }
  if (lprasconnstatus == nullptr) {
    return finish(kErrorInvalidParameter);
  }
  if (lprasconnstatus->dwSize != sizeof(RASCONNSTATUSA)) {
    return finish(ERROR_INVALID_SIZE);
  }
  Connection* connection = find(hrasconn);
  if (connection == nullptr) {
    return finish(ERROR_INVALID_HANDLE);
  }
  if (connection->hung_up && connection->vanish_after >= 0 &&
      connection->queries_since_hang_up >= connection->vanish_after) {
    const HRASCONN gone = connection->handle;
    std::erase_if(connections_, [gone](const Connection& c) { return c.handle == gone; });
    return finish(ERROR_INVALID_HANDLE);
  }
  if (connection->hung_up) {
    ++connection->queries_since_hang_up;
  }
  if (connection->status_error != 0) {
    return finish(connection->status_error);
  }
  lprasconnstatus->rasconnstate = connection->state;
  lprasconnstatus->dwError = 0;
  set_field(lprasconnstatus->szDeviceType, "pppoe");
  set_field(lprasconnstatus->szDeviceName, "simulated");
  record.rasconnstate = connection->state;
  return finish(ERROR_SUCCESS);
}

DWORD RasSimulator::RasEnumConnectionsA(RASCONNA* lprasconn, DWORD* lpcb, DWORD* lpcConnections) {
  CallRecord& record = begin(Call::RasEnumConnectionsA);
  record.dw_size = lprasconn != nullptr ? lprasconn->dwSize : 0;
  record.lpcb_in = lpcb != nullptr ? *lpcb : 0;
  record.count_in = lpcConnections != nullptr ? *lpcConnections : 0;
  auto finish = [&](DWORD result) {
    record.result = result;
    record.lpcb_out = lpcb != nullptr ? *lpcb : 0;
    record.count_out = lpcConnections != nullptr ? *lpcConnections : 0;
    return result;
  };
  if (std::optional<Scripted> scripted = take_script(Call::RasEnumConnectionsA)) {
    if (scripted->count && lpcConnections != nullptr) {
      *lpcConnections = *scripted->count;
    }
    return finish(scripted->result);
  }
  if (lpcb == nullptr || lpcConnections == nullptr) {
    return finish(kErrorInvalidParameter);
  }
  if (lprasconn == nullptr || lprasconn->dwSize != sizeof(RASCONNA)) {
    return finish(ERROR_INVALID_SIZE);
  }
  const std::vector<const Connection*> listed = listed_connections();
  const DWORD count = static_cast<DWORD>(listed.size());
  const DWORD needed = count * static_cast<DWORD>(sizeof(RASCONNA));
  if (*lpcb < needed) {
    *lpcb = needed;
    *lpcConnections = count;
    return finish(ERROR_BUFFER_TOO_SMALL);
  }
  for (DWORD i = 0; i < count; ++i) {
    RASCONNA& element = lprasconn[i];
    std::memset(&element, 0, sizeof element);
    element.dwSize = sizeof(RASCONNA);
    element.hrasconn = listed[i]->handle;
    set_field(element.szEntryName, listed[i]->entry_name);
    set_field(element.szDeviceType, "pppoe");
    set_field(element.szDeviceName, "simulated");
  }
  *lpcConnections = count;
  return finish(ERROR_SUCCESS);
}

DWORD RasSimulator::RasHangUpA(HRASCONN hrasconn) {
  CallRecord& record = begin(Call::RasHangUpA);
  record.handle = hrasconn;
  auto finish = [&](DWORD result) {
    record.result = result;
    return result;
  };
  if (std::optional<Scripted> scripted = take_script(Call::RasHangUpA)) {
    return finish(scripted->result);
  }
  Connection* connection = find(hrasconn);
  if (connection == nullptr) {
    return finish(ERROR_INVALID_HANDLE);
  }
  connection->hung_up = true;
  return finish(ERROR_SUCCESS);
}

NativeWindow RasSimulator::resolve(const StatusWindow& window) {
  CallRecord& record = begin(Call::resolve);
  record.window = window.native;
  NativeWindow resolved = window_exists(window.native) ? window.native : nullptr;
  record.result = resolved != nullptr ? 1 : 0;
  return resolved;
}

bool RasSimulator::IsWindow(NativeWindow window) {
  CallRecord& record = begin(Call::IsWindow);
  record.window = window;
  const bool exists = window_exists(window);
  record.result = exists ? 1 : 0;
  return exists;
}

void RasSimulator::SetWindowTextA(NativeWindow window, const char* text) {
  CallRecord& record = begin(Call::SetWindowTextA);
  record.window = window;
  record.text = text != nullptr ? text : "";
  for (Window& known : windows_) {
    if (known.handle == window && known.exists) {
      known.text = record.text;
    }
  }
}

void RasSimulator::InvalidateRect(NativeWindow window) {
  CallRecord& record = begin(Call::InvalidateRect);
  record.window = window;
}

std::uint32_t RasSimulator::tick_count() {
  ++tick_count_calls;
  const std::uint32_t now = tick;
  tick += tick_step;
  if (record_clock) {
    begin(Call::GetTickCount).result = now;
  } else if (on_call) {
    on_call(Call::GetTickCount);
  }
  return now;
}

void RasSimulator::yield() {
  ++yield_calls;
  tick += yield_step;
  if (record_clock) {
    begin(Call::Sleep);
  } else if (on_call) {
    on_call(Call::Sleep);
  }
}

bool RasSimulator::load_scenario(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error_ = path + ": cannot be read";
    return false;
  }
  std::ostringstream contents;
  contents << file.rdbuf();
  return load_scenario_text(contents.str());
}

bool RasSimulator::load_scenario_text(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  std::vector<std::string> words;
  while (std::getline(lines, line)) {
    ++number;
    auto fail = [&](const std::string& why) {
      error_ = "line " + std::to_string(number) + ": " + why;
      return false;
    };
    if (!split_words(line, words)) {
      return fail("a backslash that is neither \\\\ nor \\xHH");
    }
    if (words.empty() || words[0][0] == '#') {
      continue;
    }
    const std::string& verb = words[0];
    std::size_t i = 1;
    auto next = [&](std::string& word) {
      if (i >= words.size()) {
        return false;
      }
      word = words[i++];
      return true;
    };
    std::string word;
    if (verb == "entry") {
      if (words.size() != 2) {
        return fail("entry takes one name");
      }
      add_entry(words[1]);
    } else if (verb == "connection") {
      DWORD state = 0;
      if (!next(word) || !parse_state(word, state)) {
        return fail("connection needs a state");
      }
      std::string entry_name;
      int vanish_after = 0;
      DWORD status_error = 0;
      int repeat = 1;
      while (next(word)) {
        std::string value;
        if (word == "never") {
          vanish_after = -1;
        } else if (!next(value)) {
          return fail("'" + word + "' needs a value");
        } else if (word == "entry") {
          entry_name = value;
        } else if (word == "vanish-after") {
          if (!parse_count(value, vanish_after)) return fail("vanish-after needs a number");
        } else if (word == "status-error") {
          if (!parse_number(value, status_error)) return fail("status-error needs a number");
        } else if (word == "repeat") {
          if (!parse_count(value, repeat)) return fail("repeat needs a number");
        } else {
          return fail("unknown connection option '" + word + "'");
        }
      }
      for (int n = 0; n < repeat; ++n) {
        HRASCONN handle = add_connection(state, vanish_after, entry_name);
        find(handle)->status_error = status_error;
      }
    } else if (verb == "dial") {
      DialOutcome outcome;
      if (!next(word) || word != "result" || !next(word) || !parse_number(word, outcome.result)) {
        return fail("dial needs 'result CODE'");
      }
      while (next(word)) {
        std::string value;
        if (word == "writes-handle") {
          outcome.writes_handle = true;
        } else if (word == "no-handle") {
          outcome.writes_handle = false;
        } else if (word == "never") {
          outcome.vanish_after = -1;
        } else if (!next(value)) {
          return fail("'" + word + "' needs a value");
        } else if (word == "state") {
          DWORD state = 0;
          if (!parse_state(value, state)) return fail("state needs a state");
          outcome.state = state;
        } else if (word == "vanish-after") {
          if (!parse_count(value, outcome.vanish_after)) return fail("vanish-after needs a number");
        } else {
          return fail("unknown dial option '" + word + "'");
        }
      }
      script_dial(outcome);
    } else if (verb == "fail") {
      Call call{};
      DWORD code = 0;
      if (!next(word) || !parse_call(word, call)) {
        return fail("fail needs a RAS call name");
      }
      if (!next(word) || !parse_number(word, code)) {
        return fail("fail needs a result code");
      }
      int times = 1;
      std::optional<DWORD> count;
      while (next(word)) {
        std::string value;
        if (word == "always") {
          times = -1;
        } else if (!next(value)) {
          return fail("'" + word + "' needs a value");
        } else if (word == "times") {
          if (!parse_count(value, times) || times == 0) return fail("times needs a positive number");
        } else if (word == "count") {
          DWORD claimed = 0;
          if (!parse_number(value, claimed)) return fail("count needs a number");
          count = claimed;
        } else {
          return fail("unknown fail option '" + word + "'");
        }
      }
      script_result(call, code, times, count);
    } else if (verb == "clock") {
      if (!next(word) || word != "start" || !next(word) || !parse_number(word, tick)) {
        return fail("clock needs 'start N'");
      }
      while (next(word)) {
        std::string value;
        if (!next(value)) {
          return fail("'" + word + "' needs a value");
        } else if (word == "step") {
          if (!parse_number(value, tick_step)) return fail("step needs a number");
        } else if (word == "yield-step") {
          if (!parse_number(value, yield_step)) return fail("yield-step needs a number");
        } else {
          return fail("unknown clock option '" + word + "'");
        }
      }
    } else {
      return fail("unknown statement '" + verb + "'");
    }
  }
  return true;
}

}  // namespace adsl::sim
