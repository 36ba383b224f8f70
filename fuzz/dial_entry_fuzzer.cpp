// dial_entry against the simulated RAS service, with any selector, user name and password and a
// phone book, dial outcome and earlier connection chosen by the input. The dial parameters that
// RasDialA receives must be exactly what the rules make of the texts, byte for byte, and the result
// and DialState must follow from the phone book and the dial's outcome.
//
// Input: byte 0 bits 0-5 the number of phone-book entries (over 38 never fit the listing), bit 6 the
// dial fails, bit 7 the listing claims a count without filling a single entry; byte 1 that count, or
// the failure's code (odd: a handle is written all the same); byte 2 bit 0 wait, bit 1 a connection
// of an earlier dial is stored. The rest is selector, user name and password, split at zero bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dialup/dial.h"
#include "dialup/dial_state.h"
#include "ras_simulator.h"
#include "services/platform.h"

namespace {

using adsl::sim::Call;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "dial_entry: %s\n", what);
  std::abort();
}

void check(bool condition, const char* what) {
  if (!condition) fail(what);
}

// Names of every length an entry name can have, 1 to 256 bytes, any byte but zero.
std::string entry_name(unsigned index) {
  std::string name(1 + (index * 97u) % 256u, static_cast<char>('A' + index % 26u));
  name[0] = static_cast<char>(0x80 + index);
  return name;
}

template <std::size_t Width>
void put(char (&field)[Width], const std::string& text) {
  std::memcpy(field, text.data(), text.size());
}

adsl::sim::RasSimulator& simulator() {
  static adsl::sim::RasSimulator* sim = [] {
    auto* made = new adsl::sim::RasSimulator;
    adsl::dialup_platform() = adsl::DialupPlatform{made, made};
    adsl::platform().clock = made;
    return made;
  }();
  return *sim;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return -1;
  const unsigned entries = data[0] & 0x3f;
  const bool dial_fails = (data[0] & 0x40) != 0;
  const bool claims_count = (data[0] & 0x80) != 0;
  const unsigned parameter = data[1];
  const bool wait = (data[2] & 1) != 0;
  const bool earlier_connection = (data[2] & 2) != 0;
  std::vector<std::string> texts(3);
  std::size_t which = 0;
  for (std::size_t i = 3; i < size; ++i) {
    if (data[i] == 0) {
      if (++which == texts.size()) break;
      continue;
    }
    texts[which].push_back(static_cast<char>(data[i]));
  }
  const std::string& selector = texts[0];
  const std::string& user_name = texts[1];
  const std::string& password = texts[2];

  adsl::sim::RasSimulator& sim = simulator();
  sim.reset();
  adsl::dial_state() = adsl::DialState{};
  for (unsigned i = 0; i < entries; ++i) sim.add_entry(entry_name(i));
  if (claims_count) sim.script_result(Call::RasEnumEntriesA, adsl::ERROR_SUCCESS, 1, parameter);
  const adsl::DWORD failure = 600 + parameter;
  if (dial_fails) sim.script_dial(adsl::sim::DialOutcome{failure, (parameter & 1) != 0});
  adsl::HRASCONN earlier = nullptr;
  if (earlier_connection) {
    earlier = sim.add_connection(adsl::RASCS_Connected);
    adsl::dial_state().connection_handle = earlier;
  }

  const bool result = adsl::dial_entry(selector.c_str(), user_name.c_str(), password.c_str(), wait);

  // What the rules make of the texts: the entry chosen, or the phone number, or a refusal.
  const bool by_index = !selector.empty() && selector[0] == '@';
  const bool fits = user_name.size() <= 256 && password.size() <= 256 && (by_index || selector.size() <= 128);
  bool dials = fits;
  std::string expected_entry;
  if (fits && by_index) {
    unsigned count = claims_count ? (parameter < 38 ? parameter : 38) : (entries <= 38 ? entries : 0);
    const std::int32_t index = adsl::selector_index(selector.c_str() + 1);
    dials = index >= 0 && static_cast<unsigned>(index) < count;
    if (dials && !claims_count) expected_entry = entry_name(static_cast<unsigned>(index));
  }

  const std::vector<adsl::sim::CallRecord> hang_ups = sim.calls_of(Call::RasHangUpA);
  const std::vector<adsl::sim::CallRecord> listings = sim.calls_of(Call::RasEnumEntriesA);
  const std::vector<adsl::sim::CallRecord> dial_calls = sim.calls_of(Call::RasDialA);
  check(!earlier_connection || (!hang_ups.empty() && hang_ups[0].handle == earlier),
        "the earlier connection was not hung up first");
  check(listings.size() == (fits && by_index ? 1u : 0u), "the phone book was not listed exactly when needed");
  for (const adsl::sim::CallRecord& listing : listings) {
    check(listing.reserved_null && listing.phonebook_null && listing.dw_size == 264 &&
              listing.lpcb_in == 10032 && listing.count_in == 0,
          "the listing was asked for with other inputs");
  }
  check(dial_calls.size() == (dials ? 1u : 0u), "RasDialA was not called exactly when the rules dial");
  if (!dials) {
    check(!result, "a refused dial yielded true");
    check(adsl::dial_state().connection_handle == nullptr, "a refused dial left a handle stored");
    return 0;
  }

  const adsl::sim::CallRecord& dial = dial_calls[0];
  adsl::RASDIALPARAMSA expected;
  std::memset(&expected, 0, sizeof expected);
  expected.dwSize = sizeof expected;
  put(expected.szEntryName, expected_entry);
  if (!by_index) put(expected.szPhoneNumber, selector);
  put(expected.szUserName, user_name);
  put(expected.szPassword, password);
  check(dial.params_bytes.size() == sizeof expected &&
            std::memcmp(dial.params_bytes.data(), &expected, sizeof expected) == 0,
        "the dial parameters differ from the texts, zero-filled");
  check(dial.extensions_null && dial.phonebook_null && dial.notifier_type == 0 && dial.handle_in == nullptr,
        "RasDialA was called with other inputs");
  check(dial.notifier == !wait, "the notifier does not follow wait");

  if (dial_fails) {
    check(!result, "a failed dial yielded true");
    check(adsl::dial_state().connection_handle == nullptr, "a failed dial left a handle stored");
    if (dial.handle != nullptr) {
      const std::vector<adsl::sim::CallRecord> after = sim.calls_of(Call::RasHangUpA);
      check(!after.empty() && after.back().handle == dial.handle,
            "the handle of a failed dial was not hung up");
    }
  } else {
    check(result, "a dial the service accepted yielded false");
    check(dial.handle != nullptr && adsl::dial_state().connection_handle == dial.handle,
          "the new connection's handle is not the stored one");
  }
  check(adsl::dial_state().status_window == nullptr, "a status window is stored though none was given");
  return 0;
}
