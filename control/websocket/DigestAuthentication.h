#pragma once
// HTTP authentication for the WebSocket client: reading a challenge
// ("WWW-Authenticate") and the Digest answer (qop "auth" only).
//
// Challenge parameters are split at the first "=" of each part, and commas
// inside quoted values do not split, so nonces ending in "=" (Base64) work.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace control {

struct AuthenticationChallenge {
  std::string scheme;  // "Digest", "Basic", ... as sent
  std::map<std::string, std::string> parameters;  // names lower-cased; the first occurrence wins
};

std::optional<AuthenticationChallenge> parseAuthenticationChallenge(std::string_view header);

// Each byte as two lower-case hexadecimal digits.
std::string hexadecimalString(const platform::Data& data);

}  // namespace control
