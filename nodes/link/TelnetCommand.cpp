#include "nodes/link/TelnetCommand.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include "platform/PropertyList.h"
#include "platform/Utf8.h"

namespace nodes {
namespace {

struct DecodedCharacter {
  char32_t character = platform::kReplacementCharacter;
  std::size_t length = 1;
};

// One UTF-8 character at `at`; an ill-formed sequence reads as U+FFFD over
// its first byte.
DecodedCharacter decodeAt(std::string_view text, std::size_t at) {
  const platform::Utf8Character decoded = platform::decodeUtf8(text, at);
  if (!decoded.wellFormed) return {};
  return {decoded.codePoint, decoded.length};
}

// Unicode general categories Cc (controls) and Cf (format characters).
bool isControlOrFormat(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  static constexpr std::array<std::pair<char32_t, char32_t>, 21> kFormatRanges{{
      {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
      {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
      {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
      {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
      {0xE0020, 0xE007F},
  }};
  return std::any_of(kFormatRanges.begin(), kFormatRanges.end(),
                     [c](const auto& range) { return c >= range.first && c <= range.second; });
}

}  // namespace

std::string trimmedReplyText(std::string_view bytes) {
  std::string decoded;
  decoded.reserve(bytes.size());
  std::size_t keptEnd = 0;  // end of the decoded text after its last kept character
  for (std::size_t at = 0; at < bytes.size();) {
    const DecodedCharacter next = decodeAt(bytes, at);
    at += next.length;
    const bool trimmable = isControlOrFormat(next.character);
    if (decoded.empty() && trimmable) continue;  // leading
    platform::appendUtf8(decoded, next.character);
    if (!trimmable) keptEnd = decoded.size();
  }
  decoded.resize(keptEnd);
  return decoded;
}

std::int64_t integerValueOfReply(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const int digit = text[at] - '0';
    if (value > (kMax - digit) / 10) return negative ? std::numeric_limits<std::int64_t>::min() : kMax;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

TelnetCommand::TelnetCommand(std::string command, std::int32_t priority, bool requiresXMLResponse)
    : command_(std::move(command)), priority_(priority), requiresXMLResponse_(requiresXMLResponse) {}

bool TelnetCommand::hasResponse() const {
  std::lock_guard lock(mutex_);
  return hasResponse_;
}

std::string TelnetCommand::responseString() const {
  std::lock_guard lock(mutex_);
  return responseString_;
}

std::string TelnetCommand::responseData() const {
  std::lock_guard lock(mutex_);
  return responseData_;
}

platform::Result<platform::Value> TelnetCommand::responsePropertyList() const {
  std::lock_guard lock(mutex_);
  if (!hasResponse_) {
    return platform::Error(platform::kPropertyListErrorDomain, platform::PropertyListErrorCode::Malformed,
                           "No reply to \"" + command_ + "\"");
  }
  return platform::readPropertyList(responseData_);
}

bool TelnetCommand::isFinished() const {
  std::lock_guard lock(mutex_);
  return isFinished_;
}

std::string TelnetCommand::failureReason() const {
  std::lock_guard lock(mutex_);
  return failureReason_;
}

bool TelnetCommand::waitUntilFinished(platform::Clock::Duration timeout) const {
  std::unique_lock lock(mutex_);
  return platform::waitOnCurrentClock(lock, finished_, timeout, [this] { return isFinished_; });
}

void TelnetCommand::finishWithResponse(std::string data) {
  std::string text = trimmedReplyText(data);
  {
    std::lock_guard lock(mutex_);
    if (isFinished_) return;
    responseData_ = std::move(data);
    responseString_ = std::move(text);
    hasResponse_ = true;
    isFinished_ = true;
  }
  finished_.notify_all();
}

void TelnetCommand::abandon(std::string reason) {
  {
    std::lock_guard lock(mutex_);
    if (isFinished_) return;
    failureReason_ = std::move(reason);
    isFinished_ = true;
  }
  finished_.notify_all();
}

}  // namespace nodes
