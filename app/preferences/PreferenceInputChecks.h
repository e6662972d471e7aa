#pragma once
// Checks of what the operator types into the preferences window, so that a
// mistyped address or number is refused with its reason instead of being
// stored (a node entry nobody can reach, an auto-cue delay of "abc").
//
// Pure functions; any thread.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace app::preferences {

inline constexpr std::size_t kMaxHostNameLength = 253;
inline constexpr double kMaxAutoCueDelaySeconds = 3600.0;
inline constexpr double kMaxOfflineClipDurationSeconds = 24.0 * 3600.0;

// A node address as stored: the address text (blanks around it removed) and
// the port in decimal.
struct StaticNodeAddress {
  std::string address;
  std::string portNumber;
  friend bool operator==(const StaticNodeAddress&, const StaticNodeAddress&) = default;
};

// An IPv4 or IPv6 literal or a host name (letters, digits, "-" and ".", at
// most 253 characters), and a port from 1 to 65535; else the reason, in the
// operator's words.
std::variant<StaticNodeAddress, std::string> checkStaticNodeAddress(std::string_view address,
                                                                    std::string_view port);

// A finite decimal number (blanks around it allowed) within [minimum,
// maximum], the minimum itself allowed only when `minimumAllowed`; none
// otherwise.
std::optional<double> parseSecondsField(std::string_view text, double minimum, bool minimumAllowed, double maximum);

// The field text for a stored number of seconds ("2", "0.5").
std::string secondsFieldText(double seconds);

}  // namespace app::preferences
