// HTTP heads as a peer sends them: the input is cut into lines at LF (as the
// socket reads to CR LF) and fed to a request and a response. Whatever is
// taken must stay within the limits, and a complete head must serialise and
// parse back to the same fields.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "control/websocket/DigestAuthentication.h"
#include "control/websocket/HTTPMessage.h"

using control::HTTPMessage;

namespace {

void feed(HTTPMessage message, std::string_view input) {
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end == std::string_view::npos ? input.size() : end + 1);
    input.remove_prefix(line.size());
    const HTTPMessage::AppendResult result = message.appendHeaderLine(line);
    if (result == HTTPMessage::AppendResult::Malformed || result == HTTPMessage::AppendResult::TooLarge) return;
    if (message.headerLineCount() > HTTPMessage::kMaxHeaderLines) __builtin_trap();
    if (result == HTTPMessage::AppendResult::Complete) break;
  }
  if (!message.isHeaderComplete()) return;
  for (const auto& [name, value] : message.allHeaderFields()) {
    if (name == "WWW-Authenticate") (void)control::parseAuthenticationChallenge(value);
  }
  (void)message.path();
  (void)message.query();
  const std::string text = message.serialize();
  HTTPMessage again = message.isRequest() ? HTTPMessage::emptyRequest() : HTTPMessage::emptyResponse();
  std::string_view rest = text;
  while (!rest.empty() && !again.isHeaderComplete()) {
    const std::size_t end = rest.find("\r\n");
    if (end == std::string_view::npos) __builtin_trap();
    if (again.appendHeaderLine(rest.substr(0, end + 2)) >= HTTPMessage::AppendResult::Malformed) __builtin_trap();
    rest.remove_prefix(end + 2);
  }
  if (again.allHeaderFields().size() != message.allHeaderFields().size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  feed(HTTPMessage::emptyRequest(), input);
  feed(HTTPMessage::emptyResponse(), input);
  return 0;
}
