// MediaSynchronisation: the clip attributes the node's plug-ins declare.

#include <limits>
#include <utility>

#include "nodes/catalogue/MediaSynchronisation.h"
#include "nodes/catalogue/MediaSynchronisationReports.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/link/NodeMediaReplies.h"

namespace nodes {
namespace {

using detail::escapedForLog;
using detail::logNodeReplyProblem;

// The attribute change number is kept and sent as a 32-bit number.
constexpr std::uint64_t kMaxAttributesChangeNumber = std::numeric_limits<std::uint32_t>::max();

void removeAttributesNamed(NodeConnection& connection, const std::string& name) {
  connection.withPossibleClipAttributes([&](std::vector<std::shared_ptr<Attribute>>& attributes) {
    std::erase_if(attributes, [&](const std::shared_ptr<Attribute>& a) { return !a || a->name() == name; });
  });
}

void replaceOrAppendAttribute(NodeConnection& connection, std::shared_ptr<Attribute> attribute) {
  const auto name = attribute->name();
  connection.withPossibleClipAttributes([&](std::vector<std::shared_ptr<Attribute>>& attributes) {
    for (auto& existing : attributes) {
      if (existing && existing->name() == name) {
        existing = std::move(attribute);
        return;
      }
    }
    attributes.push_back(std::move(attribute));
  });
}

}  // namespace

void MediaSynchronisation::checkForAttributeChanges(NodeConnection& connection) {
  if (!connection.possibleClipAttributes().empty()) {
    getAndProcessChangesForClipsAttributes(connection);
    return;
  }
  // The change number before the names, so a change made meanwhile is
  // replayed at the next check rather than lost.
  const auto changeNumber = attributesChangeNumber(connection);
  if (!changeNumber) return;
  auto reply = connection.sendXMLQuery("atattributenames");
  if (!reply.ok()) {
    logNodeReplyProblem("Invalid Unique id XML received from Telnet: " + reply.error().localizedDescription);
    return;
  }
  const auto names =
      detail::readNameList(*reply, connection.description() + " atattributenames", &detail::isNodeCommandText);
  if (!names) return;
  std::vector<std::shared_ptr<Attribute>> loaded;
  for (const std::string& name : *names) {
    if (auto attribute = fetchAttribute(connection, name)) {
      loaded.push_back(std::move(attribute));
    } else if (!connection.isConnected()) {
      return;  // nothing half-loaded is kept: the next connection loads them all
    }
  }
  connection.withPossibleClipAttributes([&](std::vector<std::shared_ptr<Attribute>>& attributes) {
    attributes.insert(attributes.end(), loaded.begin(), loaded.end());
  });
  connection.setClipAttributesLastChangeNumber(*changeNumber);
  detail::reportPossibleClipAttributes(connection);
}

bool MediaSynchronisation::getInfoForAttribute(NodeConnection& connection, Attribute& attribute) {
  const auto name = attribute.name();
  if (!name || !detail::isNodeCommandText(*name)) return false;
  auto reply = connection.sendXMLQuery("atattributeinfo " + *name);
  if (!reply.ok() || !reply->dictionary()) {
    logNodeReplyProblem(connection.description() + ": no info for attribute \"" + escapedForLog(*name) + "\" (" +
                        (reply.ok() ? "received " + reply->describe() : reply.error().localizedDescription) + ")");
    return false;
  }
  if (const platform::Status filled = detail::fillAttributeFromNodeInfo(attribute, *reply->dictionary());
      !filled.ok()) {
    logNodeReplyProblem(connection.description() + ": " + filled.error().localizedDescription);
  }
  return true;
}

std::shared_ptr<Attribute> MediaSynchronisation::fetchAttribute(NodeConnection& connection, const std::string& name) {
  auto attribute = std::make_shared<Attribute>();
  attribute->setName(name);
  if (!getInfoForAttribute(connection, *attribute)) return nullptr;
  return attribute;
}

// The same change number changes nothing; a lower one empties the list (the
// next check loads every attribute again); a higher one replays the change
// list since the stored number. Only a change list that was read advances
// the number.
void MediaSynchronisation::getAndProcessChangesForClipsAttributes(NodeConnection& connection) {
  const auto latest = attributesChangeNumber(connection);
  if (!latest) return;
  const std::uint64_t known = connection.clipAttributesLastChangeNumber();
  if (*latest == known) return;
  if (*latest < known) {
    connection.setPossibleClipAttributes({});
    return;
  }
  const std::string command = "atattributechangessince " + std::to_string(known);
  auto reply = connection.sendXMLQuery(command);
  if (!reply.ok() || !reply->array()) {
    logNodeReplyProblem(connection.description() + ": attribute change list not read, change number kept at " +
                        std::to_string(known) + " (" +
                        (reply.ok() ? "received " + reply->describe() : reply.error().localizedDescription) + ")");
    return;
  }
  for (auto& change : detail::readAttributeChanges(*reply->array(), connection.description() + " " + command)) {
    const bool deleted = change.changeType == detail::kAttributeChangeTypeDeleted;
    if (deleted || change.changeType == detail::kAttributeChangeTypeChanged) {
      removeAttributesNamed(connection, change.attributeName);
    }
    if (!deleted) {
      if (auto attribute = fetchAttribute(connection, change.attributeName)) {
        replaceOrAppendAttribute(connection, std::move(attribute));
      } else if (!connection.isConnected()) {
        return;  // the number stays: the whole list is replayed next time
      }
    }
    detail::reportAttributeChange(connection, std::move(change.dictionary));
  }
  connection.setClipAttributesLastChangeNumber(*latest);
  detail::reportPossibleClipAttributes(connection);
}

std::optional<std::uint64_t> MediaSynchronisation::attributesChangeNumber(NodeConnection& connection) {
  const auto reply = connection.sendPlainQuery("atlastchangenumber");
  const auto number = reply ? detail::readChangeNumber(*reply, kMaxAttributesChangeNumber) : std::nullopt;
  if (!number) {
    logNodeReplyProblem(connection.description() + ": no usable attribute change number (" +
                        (reply ? "\"" + escapedForLog(*reply) + "\"" : std::string("no reply")) + ")");
  }
  return number;
}

}  // namespace nodes
