// The dial-up platform: the five RAS operations with the structure layouts of WINVER 0x400, the
// window calls of a status window, free of platform headers. ras_win32.cpp binds them to rasapi32,
// ras_pppd.cpp to pppd; tests use a simulated RAS service.
#pragma once

#include <cstddef>
#include <cstdint>

namespace adsl {

using DWORD = std::uint32_t;
/// A connection handle; null means none.
using HRASCONN = void*;
/// A native window handle (HWND on Windows); null means none.
using NativeWindow = void*;

constexpr DWORD RAS_MaxEntryName = 256;
constexpr DWORD RAS_MaxDeviceType = 16;
constexpr DWORD RAS_MaxDeviceName = 128;
constexpr DWORD RAS_MaxPhoneNumber = 128;
constexpr DWORD RAS_MaxCallbackNumber = 128;
constexpr DWORD UNLEN = 256;
constexpr DWORD PWLEN = 256;
constexpr DWORD DNLEN = 15;

// Connection states (RASCONNSTATE).
constexpr DWORD RASCS_OpenPort = 0;
constexpr DWORD RASCS_PortOpened = 1;
constexpr DWORD RASCS_ConnectDevice = 2;
constexpr DWORD RASCS_DeviceConnected = 3;
constexpr DWORD RASCS_AllDevicesConnected = 4;
constexpr DWORD RASCS_Authenticate = 5;
constexpr DWORD RASCS_AuthNotify = 6;
constexpr DWORD RASCS_Authenticated = 14;
constexpr DWORD RASCS_Connected = 0x2000;
constexpr DWORD RASCS_Disconnected = 0x2001;

// Result codes that the contracts name or that the platforms answer with.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_BUFFER_TOO_SMALL = 603;
constexpr DWORD ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623;
constexpr DWORD ERROR_INVALID_SIZE = 632;
constexpr DWORD ERROR_FROM_DEVICE = 651;
constexpr DWORD ERROR_NO_ANSWER = 678;
constexpr DWORD ERROR_AUTHENTICATION_FAILURE = 691;

// The structures as the Windows headers lay them out for WINVER 0x400. Those headers pack every RAS
// structure to 4 bytes (ras.h includes pshpack4.h), so on x86_64 the 8-byte handle of RASCONNA sits
// at offset 4, as in rasapi32's own layout, and RASCONNA is 416 bytes there (412 on i686). The other
// three have no member wider than 4 bytes: 160, 264 and 1052 bytes on both.
#pragma pack(push, 4)
struct RASCONNSTATUSA {
  DWORD dwSize;
  DWORD rasconnstate;
  DWORD dwError;
  char szDeviceType[RAS_MaxDeviceType + 1];
  char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASCONNA {
  DWORD dwSize;
  HRASCONN hrasconn;
  char szEntryName[RAS_MaxEntryName + 1];
  char szDeviceType[RAS_MaxDeviceType + 1];
  char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASENTRYNAMEA {
  DWORD dwSize;
  char szEntryName[RAS_MaxEntryName + 1];
};

struct RASDIALPARAMSA {
  DWORD dwSize;
  char szEntryName[RAS_MaxEntryName + 1];
  char szPhoneNumber[RAS_MaxPhoneNumber + 1];
  char szCallbackNumber[RAS_MaxCallbackNumber + 1];
  char szUserName[UNLEN + 1];
  char szPassword[PWLEN + 1];
  char szDomain[DNLEN + 1];
};

#pragma pack(pop)

static_assert(sizeof(RASCONNSTATUSA) == 160);
static_assert(sizeof(RASENTRYNAMEA) == 264);
static_assert(sizeof(RASDIALPARAMSA) == 1052);
static_assert(sizeof(RASCONNA) == (sizeof(void*) == 4 ? 412 : 416));
static_assert(offsetof(RASCONNA, hrasconn) == 4);

/// The RasDialFunc notifier (type 0): message, connection state, error code.
using RasDialNotifier = void (*)(std::uint32_t message, DWORD rasconnstate, DWORD dwError);

/// The five RAS calls with the contracts the dial-up logic relies on. Results are RAS error codes:
/// 0 for success, nonzero for failure.
class RasOperations {
 public:
  virtual ~RasOperations() = default;
  /// Lists the phone book into `lprasentryname` (dwSize of the first element set by the caller).
  /// 0: `*lpcEntries` entries filled, in listing order. 603 with `*lpcb` raised when they do not fit.
  virtual DWORD RasEnumEntriesA(const char* reserved, const char* lpszPhonebook,
                                RASENTRYNAMEA* lprasentryname, DWORD* lpcb, DWORD* lpcEntries) = 0;
  /// Dials. Without a notifier it returns when the connection is up (0) or the dial has failed;
  /// with one it returns once the dial has started and reports progress through it. A handle may be
  /// written to `*lphRasConn` even when the result is nonzero.
  virtual DWORD RasDialA(const void* lpRasDialExtensions, const char* lpszPhonebook,
                         RASDIALPARAMSA* lpRasDialParams, DWORD dwNotifierType, RasDialNotifier lpvNotifier,
                         HRASCONN* lphRasConn) = 0;
  /// 0: `rasconnstate` holds the state. 6 (ERROR_INVALID_HANDLE): the connection no longer exists.
  virtual DWORD RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus) = 0;
  /// 0: `*lpcConnections` elements filled. 603 when the active connections do not fit.
  virtual DWORD RasEnumConnectionsA(RASCONNA* lprasconn, DWORD* lpcb, DWORD* lpcConnections) = 0;
  /// Starts ending the connection; its end shows when a status query answers ERROR_INVALID_HANDLE.
  virtual DWORD RasHangUpA(HRASCONN hrasconn) = 0;
};

/// The host user interface's reference to a status window, as dial_entry receives it.
struct StatusWindow {
  NativeWindow native;
};

/// The three window calls made on a status window, and the resolution of a StatusWindow.
class StatusWindows {
 public:
  virtual ~StatusWindows() = default;
  /// The native handle of the referenced window, or null when it cannot be resolved.
  virtual NativeWindow resolve(const StatusWindow& window) = 0;
  /// IsWindow: nonzero while the window exists.
  virtual bool IsWindow(NativeWindow window) = 0;
  /// SetWindowTextA.
  virtual void SetWindowTextA(NativeWindow window, const char* text) = 0;
  /// InvalidateRect with no rectangle and erase TRUE.
  virtual void InvalidateRect(NativeWindow window) = 0;
};

/// The dial-up platform in force. Start-up leaves the system's own in place; tests install their own.
struct DialupPlatform {
  RasOperations* ras;
  StatusWindows* windows;
};

DialupPlatform& dialup_platform();

/// The system's own, defined by the platform file that implements them.
RasOperations& system_ras_operations();
StatusWindows& system_status_windows();

}  // namespace adsl
