// What the whole program writes and which RAS calls it makes, for the end-to-end tests of the native
// test build and of the Windows exe under Wine: both run the same scenarios and expect the same bytes.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace adsl::testing {

/// The bytes a text-mode stream hands to a file or pipe: every LF becomes CR LF.
std::string text_mode(const std::string& bytes);

/// The whole output of the dial way, as a file or pipe receives it.
std::string dial_way_output(const std::string& account, const std::string& password, bool already_connected,
                            bool dial_succeeded);

/// The whole output of the usage way for the program at `program_path` (directory, separator, name),
/// as a file or pipe receives it.
std::string usage_way_output(const std::string& program_path);

/// Lines of the simulated service's call record, each ended by "\n", with the structure sizes of a
/// 64-bit build (RASCONNA is 416 bytes there), which both the native test build and the x86_64 exe are.
namespace record {
std::string enum_connections(int listed);
std::string enum_entries(int listed);
std::string dial(const std::string& entry_name, const std::string& user_name, const std::string& password,
                 int result, int handle_after);
std::string status(int handle, unsigned rasconnstate);
std::string status_fails(int handle, int result);
std::string hang_up(int handle, int result = 0);
}  // namespace record

/// One run of the dial way: the arguments, the scenario of the simulated service, and what must come out.
struct DialCase {
  std::string name;
  std::vector<std::string> arguments;
  std::string scenario;
  std::string output;
  std::string record;
};

/// The dial-way scenarios both end-to-end tests run: a good dial, a connection already up, an empty
/// phone book, an authentication failure, empty arguments, the longest texts that fit and overlong ones.
std::vector<DialCase> dial_way_cases();

/// A scenario word for these bytes: every byte outside 0x21..0x7e, and the backslash, as \xHH.
std::string scenario_word(const std::string& bytes);

/// Runs `count` jobs on threads of their own and waits for all; job i is called with i. Each run of the
/// dial way pauses for three seconds, so the runs are made side by side.
void run_side_by_side(std::size_t count, const std::function<void(std::size_t)>& job);

}  // namespace adsl::testing
