// Feeds arbitrary bytes, as what a node sent back, to the link's reply
// framing. The first byte says whether the command waits for a property
// list. Nothing may crash; the end found lies inside the bytes; an earlier
// search that found nothing never changes the answer; and a property-list
// reply ends right after an end tag (and the line-end bytes that follow it).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "nodes/link/NodeReplyFraming.h"

namespace {

void check(bool holds) {
  if (!holds) __builtin_trap();
}

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool requiresXML = (data[0] & 1) != 0;
  const std::string_view received(reinterpret_cast<const char*>(data) + 1, size - 1);

  const std::optional<std::size_t> end = nodes::nodeReplyEnd(received, requiresXML);
  if (end) check(*end > 0 && *end <= received.size());

  // As the link reads it: the first part searched in vain, then the whole.
  const std::string_view firstRead = received.substr(0, received.size() / 2);
  if (!nodes::nodeReplyEnd(firstRead, requiresXML)) {
    check(nodes::nodeReplyEnd(received, requiresXML, firstRead.size()) == end);
  }

  if (end && nodes::nodeReplyIsPropertyList(received.substr(0, *end), requiresXML)) {
    std::string_view reply = received.substr(0, *end);
    while (!reply.empty() && isLineEnd(reply.back())) reply.remove_suffix(1);
    check(reply.ends_with("</plist>"));
  }
  return 0;
}
