// Dialing a phone-book entry or a phone number, and the progress texts of the notified mode.
#include "dialup/dial.h"

#include <cstddef>
#include <cstring>

#include "dialup/dial_state.h"

namespace adsl {

namespace {

constexpr DWORD kPhoneBookCapacity = 38;
using PhoneBookListing = RASENTRYNAMEA[kPhoneBookCapacity];

constexpr char kEntrySelectorMark = '@';

// The progress texts of dial_status_callback.
constexpr char kAuthenticationFailed[] =
    "\xd3\xc3\xbb\xa7\xd1\xe9\xd6\xa4\xca\xa7\xb0\xdc";                              // "用户验证失败"
constexpr char kErrorOccurred[] = "\xd3\xd0\xb4\xed\xce\xf3\xb7\xa2\xc9\xfa";        // "有错误发生"
constexpr char kOpeningPort[] = "\xd5\xfd\xd4\xda\xb4\xf2\xbf\xaa\xb6\xcb\xbf\xda";  // "正在打开端口"
constexpr char kPortOpened[] = "\xb6\xcb\xbf\xda\xb1\xbb\xb4\xf2\xbf\xaa";           // "端口被打开"
constexpr char kConnectingDevice[] = "\xd5\xfd\xd4\xda\xc1\xac\xbd\xd3\xc9\xe8\xb1\xb8";  // "正在连接设备"
constexpr char kDeviceConnected[] = "\xc9\xe8\xb1\xb8\xb1\xbb\xc1\xac\xbd\xd3";           // "设备被连接"
constexpr char kAuthenticating[] = "\xd5\xfd\xd4\xda\xd1\xe9\xd6\xa4\xd3\xc3\xbb\xa7";  // "正在验证用户"
constexpr char kAuthenticated[] = "\xd3\xc3\xbb\xa7\xd1\xe9\xd6\xa4\xcd\xa8\xb9\xfd";  // "用户验证通过"
constexpr char kConnected[] = "\xc1\xac\xbd\xd3\xb3\xc9\xb9\xa6";                      // "连接成功"
constexpr char kDisconnected[] = "\xc1\xac\xbd\xd3\xb1\xbb\xb6\xcf\xbf\xaa";           // "连接被断开"

const char* or_empty(const char* text) {
  return text != nullptr ? text : "";
}

/// Whether `text` and its terminating zero fit a field of `width` bytes.
bool fits(const char* text, std::size_t width) {
  return std::strlen(text) < width;
}

/// Copies `text`, which fits, into a zero-filled field; the zeros after it terminate it.
template <std::size_t Width>
void copy_into(char (&field)[Width], const char* text) {
  std::memcpy(field, text, std::strlen(text));
}

bool is_white_space(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r';
}

/// Copies the name of phone-book entry `index` into `entry_name`; false when there is no such entry.
/// The phone book is listed afresh each time: entries may have been added or removed since.
bool copy_entry_name(RasOperations& ras, std::int32_t index, char (&entry_name)[RAS_MaxEntryName + 1]) {
  PhoneBookListing listing;
  std::memset(&listing, 0, sizeof listing);
  listing[0].dwSize = sizeof(RASENTRYNAMEA);
  DWORD bytes = sizeof listing;
  DWORD count = 0;
  if (ras.RasEnumEntriesA(nullptr, nullptr, listing, &bytes, &count) != ERROR_SUCCESS) {
    count = 0;
  }
  // A service that claims more entries than the listing holds must not make us read past its end.
  if (count > kPhoneBookCapacity) {
    count = kPhoneBookCapacity;
  }
  if (index < 0 || static_cast<DWORD>(index) >= count) {
    return false;
  }
  // Bounded, so a name the service left unterminated still ends inside the field.
  const char* name = listing[index].szEntryName;
  for (std::size_t i = 0; i < RAS_MaxEntryName && name[i] != '\0'; ++i) {
    entry_name[i] = name[i];
  }
  return true;
}

/// Overwrites the dial parameters, password included, with zeros. The writes are volatile: the
/// parameters are dead once RasDialA has returned, and plain stores to them could be dropped.
void wipe_dial_params(RASDIALPARAMSA& params) {
  volatile unsigned char* bytes = reinterpret_cast<volatile unsigned char*>(&params);
  for (std::size_t i = 0; i < sizeof params; ++i) {
    bytes[i] = 0;
  }
}

const char* status_text(DWORD rasconnstate, DWORD dwError) {
  if (dwError != 0) {
    return rasconnstate == RASCS_AuthNotify ? kAuthenticationFailed : kErrorOccurred;
  }
  switch (rasconnstate) {
    case RASCS_OpenPort:
      return kOpeningPort;
    case RASCS_PortOpened:
      return kPortOpened;
    case RASCS_ConnectDevice:
      return kConnectingDevice;
    case RASCS_DeviceConnected:
      return kDeviceConnected;
    case RASCS_Authenticate:
      return kAuthenticating;
    case RASCS_Authenticated:
      return kAuthenticated;
    case RASCS_Connected:
      return kConnected;
    case RASCS_Disconnected:
      return kDisconnected;
    default:
      return nullptr;
  }
}

}  // namespace

std::int32_t selector_index(const char* text) {
  text = or_empty(text);
  while (is_white_space(*text)) {
    ++text;
  }
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  // Unsigned arithmetic wraps modulo 2^32 without undefined behaviour; the conversion back to a
  // signed value is two's complement.
  std::uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10u + static_cast<std::uint32_t>(*text - '0');
  }
  if (negative) {
    value = 0u - value;
  }
  return static_cast<std::int32_t>(value);
}

bool dial_entry(const char* selector, const char* user_name, const char* password, std::optional<bool> wait,
                std::optional<StatusWindow> status_window) {
  hang_up_stored();

  selector = or_empty(selector);
  user_name = or_empty(user_name);
  password = or_empty(password);
  const bool by_index = selector[0] == kEntrySelectorMark;

  RASDIALPARAMSA params;
  // A text that does not fit its field is refused rather than cut: a cut password or phone number
  // would be dialed wrong.
  if (!fits(user_name, sizeof params.szUserName) || !fits(password, sizeof params.szPassword) ||
      (!by_index && !fits(selector, sizeof params.szPhoneNumber))) {
    return false;
  }

  RasOperations& ras = *dialup_platform().ras;
  std::memset(&params, 0, sizeof params);
  params.dwSize = sizeof(RASDIALPARAMSA);
  if (by_index) {
    if (!copy_entry_name(ras, selector_index(selector + 1), params.szEntryName)) {
      return false;
    }
  } else {
    copy_into(params.szPhoneNumber, selector);
  }
  copy_into(params.szUserName, user_name);
  copy_into(params.szPassword, password);

  const bool synchronous = wait.value_or(false);
  RasDialNotifier notifier = synchronous ? nullptr : dial_status_callback;
  DialState& state = dial_state();
  const DWORD result = ras.RasDialA(nullptr, nullptr, &params, 0, notifier, &state.connection_handle);
  wipe_dial_params(params);

  if (result != ERROR_SUCCESS) {
    // RasDialA may have written a handle even though it failed; it is hung up and forgotten.
    hang_up_stored();
    return false;
  }
  NativeWindow window = nullptr;
  if (!synchronous && status_window.has_value()) {
    window = dialup_platform().windows->resolve(*status_window);
  }
  state.status_window = window;
  return true;
}

void dial_status_callback(std::uint32_t /*message*/, DWORD rasconnstate, DWORD dwError) {
  const DialState& state = dial_state();
  // Read once: the callback may run on a thread of the RAS service.
  NativeWindow window = state.status_window;
  if (state.connection_handle == nullptr || window == nullptr) {
    return;
  }
  StatusWindows& windows = *dialup_platform().windows;
  if (!windows.IsWindow(window)) {
    return;
  }
  const char* text = status_text(rasconnstate, dwError);
  if (text == nullptr) {
    return;
  }
  windows.SetWindowTextA(window, text);
  windows.InvalidateRect(window);
}

}  // namespace adsl
