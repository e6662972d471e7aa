#include "app/inspector/ClipInspectorViewController.h"

#include "app/inspector/ClipInspectorWindowController.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Diagnostics.h"

namespace app::inspector {
namespace {

bool playsDocument(const ClipInspectorContext& context, const std::optional<std::string>& node,
                   const nodes::VideoPlaylistDocument& document) {
  if (!node) return false;
  const auto status = context.nodeControlStatus(*node);
  if (!status) return false;
  const auto found = status->find(nodes::kNodeStatusPlaylistUniqueIDKey);
  return found != status->end() && found->second.isString() && *found->second.string() == document.uniqueID();
}

bool isUnlocked(const ClipInspectorContext& context, const std::optional<std::string>& node) {
  return node && context.isNodeUnlocked(*node);
}

}  // namespace

std::shared_ptr<nodes::VideoPlaylistDocument> ClipInspectorViewController::playlistDocument() const {
  return delegate_ ? delegate_->playlistDocument() : nullptr;
}

bool ClipInspectorViewController::lastUpdateComeFromInspector() const {
  return !delegate_ || delegate_->lastUpdateComeFromInspector();
}

PlaylistItems ClipInspectorViewController::selectedPlaylistItems(std::set<std::size_t>* indexes) const {
  if (indexes) indexes->clear();
  if (lastUpdateComeFromInspector()) return context_.mediaBrowserSelectedPlaylistItems();
  const auto document = playlistDocument();
  PlaylistItems items;
  for (const std::size_t index : document->selectedClipIndexes()) {
    if (auto item = document->clipAtIndex(static_cast<std::int64_t>(index))) {
      items.push_back(std::move(item));
      if (indexes) indexes->insert(index);
    }
  }
  return items;
}

bool ClipInspectorViewController::canModifyCurrentPlaylist() const {
  const auto document = playlistDocument();
  if (!document) return false;
  const auto nodeA = document->nodeAUniqueID();
  const auto nodeB = document->nodeBUniqueID();
  const bool mineA = playsDocument(context_, nodeA, *document);
  const bool mineB = playsDocument(context_, nodeB, *document);
  if (document->abRoll()) {
    if (!mineA && !mineB) return true;
    return isUnlocked(context_, nodeA) && isUnlocked(context_, nodeB);
  }
  return !mineA || isUnlocked(context_, nodeA);
}

std::size_t ClipInspectorViewController::replaceSelectedClipsOnNodes(const nodes::VideoPlaylistDocument& document,
                                                                     bool logReplacements) {
  const std::optional<std::string> nodes[] = {document.nodeAUniqueID(), document.nodeBUniqueID()};
  const char* const logLines[] = {"Replacing clip on Node A", "Replacing clip on Node B"};
  const bool plays[] = {playsDocument(context_, nodes[0], document), playsDocument(context_, nodes[1], document)};
  std::size_t replaced = 0;
  for (const std::size_t index : document.selectedClipIndexes()) {
    const auto item = document.clipAtIndex(static_cast<std::int64_t>(index));
    if (!item) continue;
    for (int node = 0; node < 2; ++node) {
      if (!plays[node] || item->nodeUniqueID() != *nodes[node]) continue;
      if (logReplacements) platform::reportDiagnostic(platform::DiagnosticLevel::Info, logLines[node]);
      context_.nodeControlPlaylistReplaceItemAtIndex(index, *item, *nodes[node]);
      ++replaced;
    }
  }
  return replaced;
}

void ClipInspectorViewController::postInspectorDidChangeClips(const nodes::VideoPlaylistDocument& document) {
  platform::Dictionary userInfo;
  userInfo[kPlaylistUniqueIDKey] = platform::Value(document.uniqueID());
  context_.notificationCenter().post(platform::Notification{kInspectorDidChangeClipsNotification, this, {}, userInfo});
}

}  // namespace app::inspector
