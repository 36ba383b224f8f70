// The dial-up platform on Windows: the five calls of rasapi32 and the window calls of user32.
//
// mingw-w64's <ras.h> (10.0.0 here) declares only the newest structure layouts, whatever WINVER says:
// its RASCONNA carries szPhonebook, dwSubEntry, guidEntry, dwFlags and luid (704 bytes on i686, 708 on
// x86_64), its RASCONNSTATUSA szPhoneNumber (288), its RASENTRYNAMEA dwFlags and szPhonebookPath (532),
// its RASDIALPARAMSA dwSubEntry and dwCallbackId (1060 on i686, 1064 on x86_64). rasapi32 tells the
// layout a caller uses by dwSize, so we pass our WINVER 0x400 layouts from dialup/ras.h instead and
// take only the function declarations from <ras.h>. Its structures are packed to 4 bytes, which puts
// RASCONNA's handle at offset 4 on x86_64 too; the asserts below hold our layouts to its offsets.
#include <atomic>
#include <cstddef>

#include "dialup/ras.h"
#include "services/lasting_instance.h"

// <ras.h> defines RASCONNA and its kin as macros that name its own layouts, and <lmcons.h> does the
// same for UNLEN and PWLEN; these aliases keep our layouts reachable once those headers are in.
namespace adsl::ras_layout {
using ConnStatus = adsl::RASCONNSTATUSA;
using Conn = adsl::RASCONNA;
using EntryName = adsl::RASENTRYNAMEA;
using DialParams = adsl::RASDIALPARAMSA;
}  // namespace adsl::ras_layout

#include <windows.h>

// After <windows.h>, whose types it uses.
#include <ras.h>

namespace adsl {

namespace {

using ras_layout::Conn;
using ras_layout::ConnStatus;
using ras_layout::DialParams;
using ras_layout::EntryName;

// The sizes rasapi32 knows as the WINVER 0x400 versions of these structures.
static_assert(sizeof(ConnStatus) == 160);
static_assert(sizeof(Conn) == (sizeof(void*) == 4 ? 412 : 416));
static_assert(sizeof(EntryName) == 264);
static_assert(sizeof(DialParams) == 1052);

// Every member we share with the newest layouts sits where rasapi32 looks for it.
static_assert(offsetof(ConnStatus, rasconnstate) == offsetof(tagRASCONNSTATUSA, rasconnstate));
static_assert(offsetof(ConnStatus, dwError) == offsetof(tagRASCONNSTATUSA, dwError));
static_assert(offsetof(ConnStatus, szDeviceName) == offsetof(tagRASCONNSTATUSA, szDeviceName));
static_assert(sizeof(tagRASCONNSTATUSA::rasconnstate) == sizeof(DWORD));
static_assert(offsetof(Conn, hrasconn) == offsetof(tagRASCONNA, hrasconn));
static_assert(offsetof(Conn, szEntryName) == offsetof(tagRASCONNA, szEntryName));
static_assert(offsetof(Conn, szDeviceName) == offsetof(tagRASCONNA, szDeviceName));
// The handle member is a pointer, and its size is what is compared.
static_assert(sizeof(tagRASCONNA::hrasconn) == sizeof(HRASCONN));  // NOLINT(bugprone-sizeof-expression)
static_assert(offsetof(EntryName, szEntryName) == offsetof(tagRASENTRYNAMEA, szEntryName));
static_assert(offsetof(DialParams, szEntryName) == offsetof(tagRASDIALPARAMSA, szEntryName));
static_assert(offsetof(DialParams, szPhoneNumber) == offsetof(tagRASDIALPARAMSA, szPhoneNumber));
static_assert(offsetof(DialParams, szCallbackNumber) == offsetof(tagRASDIALPARAMSA, szCallbackNumber));
static_assert(offsetof(DialParams, szUserName) == offsetof(tagRASDIALPARAMSA, szUserName));
static_assert(offsetof(DialParams, szPassword) == offsetof(tagRASDIALPARAMSA, szPassword));
static_assert(offsetof(DialParams, szDomain) == offsetof(tagRASDIALPARAMSA, szDomain));
// The WINVER 0x400 versions end where the newer layouts add their first member.
static_assert(sizeof(DialParams) == offsetof(tagRASDIALPARAMSA, dwSubEntry));
static_assert(sizeof(EntryName) == offsetof(tagRASENTRYNAMEA, dwFlags));

// The notifier of the dial in progress. RAS calls a RasDialFunc with the WINAPI convention (stdcall on
// i686), possibly on a thread of its own and after RasDialA has returned, so it reaches the logic's
// notifier through this trampoline and this atomic pointer.
std::atomic<RasDialNotifier> dial_notifier{nullptr};

VOID WINAPI forward_dial_event(UINT message, RASCONNSTATE state, ::DWORD error) {
  RasDialNotifier notifier = dial_notifier.load();
  if (notifier != nullptr) {
    notifier(message, static_cast<DWORD>(state), static_cast<DWORD>(error));
  }
}

class RasApi32 final : public RasOperations {
 public:
  // rasapi32's DWORD is unsigned long, ours std::uint32_t: the counts travel through locals of its type.
  DWORD RasEnumEntriesA(const char* reserved, const char* lpszPhonebook, EntryName* lprasentryname,
                        DWORD* lpcb, DWORD* lpcEntries) override {
    ::DWORD bytes = *lpcb;
    ::DWORD count = *lpcEntries;
    const ::DWORD result = ::RasEnumEntriesA(
        reserved, lpszPhonebook, reinterpret_cast<LPRASENTRYNAMEA>(lprasentryname), &bytes, &count);
    *lpcb = bytes;
    *lpcEntries = count;
    return result;
  }

  DWORD RasDialA(const void* lpRasDialExtensions, const char* lpszPhonebook, DialParams* lpRasDialParams,
                 DWORD dwNotifierType, RasDialNotifier lpvNotifier, HRASCONN* lphRasConn) override {
    LPVOID notifier = nullptr;
    if (lpvNotifier != nullptr) {
      dial_notifier.store(lpvNotifier);
      notifier = reinterpret_cast<LPVOID>(&forward_dial_event);
    }
    // The handle is written straight into the caller's variable, as the contract promises.
    return ::RasDialA(static_cast<LPRASDIALEXTENSIONS>(const_cast<void*>(lpRasDialExtensions)), lpszPhonebook,
                      reinterpret_cast<LPRASDIALPARAMSA>(lpRasDialParams), dwNotifierType, notifier,
                      reinterpret_cast<::HRASCONN*>(lphRasConn));
  }

  DWORD RasGetConnectStatusA(HRASCONN hrasconn, ConnStatus* lprasconnstatus) override {
    return ::RasGetConnectStatusA(static_cast<::HRASCONN>(hrasconn),
                                  reinterpret_cast<LPRASCONNSTATUSA>(lprasconnstatus));
  }

  DWORD RasEnumConnectionsA(Conn* lprasconn, DWORD* lpcb, DWORD* lpcConnections) override {
    ::DWORD bytes = *lpcb;
    ::DWORD count = *lpcConnections;
    const ::DWORD result = ::RasEnumConnectionsA(reinterpret_cast<LPRASCONNA>(lprasconn), &bytes, &count);
    *lpcb = bytes;
    *lpcConnections = count;
    return result;
  }

  DWORD RasHangUpA(HRASCONN hrasconn) override { return ::RasHangUpA(static_cast<::HRASCONN>(hrasconn)); }
};

/// A status window is referred to by its HWND; one that no longer exists resolves to none.
class User32StatusWindows final : public StatusWindows {
 public:
  NativeWindow resolve(const StatusWindow& window) override {
    return IsWindow(window.native) ? window.native : nullptr;
  }
  bool IsWindow(NativeWindow window) override { return ::IsWindow(static_cast<HWND>(window)) != FALSE; }
  void SetWindowTextA(NativeWindow window, const char* text) override {
    ::SetWindowTextA(static_cast<HWND>(window), text);
  }
  void InvalidateRect(NativeWindow window) override {
    ::InvalidateRect(static_cast<HWND>(window), nullptr, TRUE);
  }
};

}  // namespace

RasOperations& system_ras_operations() {
  return lasting_instance<RasApi32>();
}

StatusWindows& system_status_windows() {
  return lasting_instance<User32StatusWindows>();
}

}  // namespace adsl
