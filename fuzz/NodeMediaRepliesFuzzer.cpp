// Feeds arbitrary bytes, as a node's reply, to the readers of the media and
// attribute replies. Nothing may crash, and nothing they let through may go
// back to the node unless it is a clean command word (or command text).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "nodes/link/NodeMediaReplies.h"
#include "platform/Diagnostics.h"
#include "platform/PropertyList.h"

namespace {

using namespace nodes::detail;

void check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    platform::setDiagnosticHandler([](platform::DiagnosticLevel, const std::string&) {});
    return true;
  }();
  (void)quiet;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  if (const auto number = readChangeNumber(input, 1000000)) {
    check(*number <= 1000000 && !input.empty());
    for (const char c : input) check(c >= '0' && c <= '9');
  }

  platform::Result<platform::Value> reply = platform::readPropertyList(input);
  if (!reply.ok()) return 0;
  if (const auto words = readNameList(*reply, "fuzz", &isNodeCommandWord)) {
    for (const auto& word : *words) check(isNodeCommandWord(word));
  }
  if (const auto texts = readNameList(*reply, "fuzz", &isNodeCommandText)) {
    for (const auto& text : *texts) check(isNodeCommandText(text));
  }
  if (const platform::Array* changes = reply->array()) {
    for (const auto& change : readMediaItemChanges(*changes, "fuzz")) check(isNodeCommandWord(change.mediaItemUniqueID));
    for (const auto& change : readAttributeChanges(*changes, "fuzz")) check(isNodeCommandText(change.attributeName));
  }
  if (const platform::Dictionary* info = reply->dictionary()) {
    nodes::MediaItem item;
    item.setUniqueID("I1");
    (void)fillMediaItemFromNodeInfo(item, *info, "node", "uid");
    check(item.uniqueID() == "I1" && item.initialized() && item.nodeUniqueID() == "uid");
    nodes::Attribute attribute;
    attribute.setName("Name");
    (void)fillAttributeFromNodeInfo(attribute, *info);
    check(attribute.name() == "Name");
  }
  return 0;
}
