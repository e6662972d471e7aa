// The media browser's contextual menu: which items it enables, where a row
// lies on this computer, and the actions of its items.

#include <algorithm>
#include <system_error>

#include "app/browser/MediaBrowserRowAppearance.h"
#include "app/browser/MediaBrowserWindowController.h"
#include "foundation/CVNAlertUtilities.h"

namespace app::browser {

namespace {

constexpr const char* kMediaFoldersLocalEquivalentPathsKey = "MediaFoldersLocalEquivalentPaths";

enum class ClickedKind { EmptySpace, Folder, Live, Offline, Online };

ClickedKind kindOf(const MediaCollectionNode* node) {
  if (!node) return ClickedKind::EmptySpace;
  if (!node->isLeaf()) return ClickedKind::Folder;
  if (node->isLiveClip()) return ClickedKind::Live;
  return node->online() ? ClickedKind::Online : ClickedKind::Offline;
}

bool existsHere(const std::filesystem::path& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::exists(path, error);
}

// `relative` under `folder`, or none when it would leave the folder.
std::optional<std::filesystem::path> pathInside(const std::filesystem::path& folder, const std::string& relative) {
  const std::filesystem::path base = folder.lexically_normal();
  const std::filesystem::path joined = (folder / std::filesystem::path(relative).relative_path()).lexically_normal();
  const auto [end, rest] = std::mismatch(base.begin(), base.end(), joined.begin(), joined.end());
  if (end != base.end() && !end->empty()) return std::nullopt;
  return joined;
}

std::string withoutLastComponent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash);
}

}  // namespace

ContextMenuEnabling MediaBrowserWindowController::contextMenuWillOpen(const MediaCollectionNodePtr& clicked) {
  ContextMenuEnabling items{};
  if (restrictedMode_) {
    items.fill(false);
    return items;
  }
  lastClickedNode_ = clicked;
  bool connected = false;
  if (selectedNodeUniqueID_) {
    const auto node = collection_.dataSource()->node(*selectedNodeUniqueID_);
    connected = node && node->connected;
  }
  using Row = std::array<std::optional<bool>, kContextMenuItemCount>;
  constexpr std::optional<bool> on = true, off = false, keep = std::nullopt;
  switch (kindOf(clicked.get())) {
    case ClickedKind::EmptySpace: items = Row{off, off, off, off, on, off, keep, keep}; break;
    case ClickedKind::Folder: items = Row{on, connected, on, off, on, off, off, off}; break;
    case ClickedKind::Live: items = Row{off, off, off, off, off, on, on, on}; break;
    case ClickedKind::Offline: items = Row{on, off, off, on, off, off, on, on}; break;
    case ClickedKind::Online: items = Row{on, off, on, off, on, off, on, on}; break;
  }
  if (selection_.size() >= 2 &&
      std::any_of(selection_.begin(), selection_.end(),
                  [](const auto& node) { return node->playlistItem() && !node->online(); })) {
    items[static_cast<std::size_t>(ContextMenuItem::RemoveOffline)] = true;
  }
  return items;
}

std::string MediaBrowserWindowController::nodePathOfNode(const MediaCollectionNode& node) {
  std::string names;
  for (const MediaCollectionNode* current = &node; current;) {
    const auto parent = current->parent();
    if (!(current->name() == kRootNodeName && !parent)) names = "/" + current->name() + names;
    current = parent.get();
  }
  std::string path = withoutLastComponent(node.mediaFolderPath()) + names;
  if (node.isLeaf()) path = withoutLastComponent(path);
  return path;
}

std::optional<std::filesystem::path> MediaBrowserWindowController::equivalentLocalPathForNode(
    const MediaCollectionNode& node) const {
  const auto& clip = node.playlistItem();
  if (clip) {
    for (const auto& entry : defaults_.arrayForKey(kMediaFoldersLocalEquivalentPathsKey).value_or(platform::Array{})) {
      const auto* dictionary = entry.dictionary();
      if (!dictionary) continue;
      const auto folderID = dictionary->find("mediaFolderUniqueID");
      const auto local = dictionary->find("equivalentLocalPath");
      if (folderID == dictionary->end() || local == dictionary->end()) continue;
      if (folderID->second.stringOr("") != clip->mediaFolderUniqueID()) continue;
      const auto candidate = pathInside(local->second.stringOr(""), clip->relativePathToMediaItem());
      if (candidate && existsHere(*candidate)) return candidate;
    }
    if (clip->online()) {
      const std::filesystem::path absolute = clip->absolutePathToMediaItem();
      if (existsHere(absolute)) return absolute;
      return std::nullopt;
    }
  }
  const std::filesystem::path nodePath = nodePathOfNode(node);
  if (existsHere(nodePath)) return nodePath;
  return std::nullopt;
}

void MediaBrowserWindowController::revealInFinderAction() {
  if (!lastClickedNode_) return;
  const auto path = equivalentLocalPathForNode(*lastClickedNode_);
  if (!path) {
    foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(kFileNotFoundTitle, kFileNotFoundMessage, {"OK"});
    return;
  }
  if (revealer_ && revealer_->selectFile(*path)) return;
  const std::string message = "The File at path: \"" + path->string() +
                              "\" could not be found. Make sure that the Volume where it resides is mounted on your "
                              "computer.";
  foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(kFileNotFoundTitle, message, {"OK"});
}

void MediaBrowserWindowController::refreshSelectedCollectionNode() {
  if (!lastClickedNode_ || !selectedNodeUniqueID_) return;
  collection_.dataSource()->forceEnumeration(lastClickedNode_->mediaFolderUniqueID(), *selectedNodeUniqueID_,
                                             nodePathOfNode(*lastClickedNode_));
}

void MediaBrowserWindowController::forceEnumerationForAllMediaFolder() {
  if (selectedNodeUniqueID_) collection_.dataSource()->forceEnumeration(std::nullopt, *selectedNodeUniqueID_, std::nullopt);
}

std::vector<MediaCollectionNodePtr> MediaBrowserWindowController::selectionWithClickedNode() const {
  std::vector<MediaCollectionNodePtr> nodes = selection_;
  if (lastClickedNode_ && std::find(nodes.begin(), nodes.end(), lastClickedNode_) == nodes.end()) {
    nodes.push_back(lastClickedNode_);
  }
  return nodes;
}

void MediaBrowserWindowController::deleteSelectedOfflineCollectionNode() {
  const auto nodes = selectionWithClickedNode();
  if (foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(kDeleteOfflineTitle, kDeleteOfflineMessage,
                                                                   {"OK", "Cancel"}) != foundation::kAlertFirstButtonReturn) {
    return;
  }
  std::vector<MediaCollectionNodePtr> offline;
  std::copy_if(nodes.begin(), nodes.end(), std::back_inserter(offline),
               [](const auto& node) { return node->playlistItem() && !node->online(); });
  collection_.deleteCollectionNodes(offline);
}

void MediaBrowserWindowController::removeSelectedZiraClip() {
  for (const auto& node : selectionWithClickedNode()) {
    if (node->isLiveClip()) collection_.deleteCollectionNode(node);
  }
}

void MediaBrowserWindowController::duplicateClip() {
  if (lastClickedNode_ && lastClickedNode_->playlistItem()) {
    collection_.dataSource()->duplicateClip(lastClickedNode_->playlistItem());
  }
}

void MediaBrowserWindowController::renameClip() {
  if (view_ && lastClickedNode_ && !restrictedMode_) view_->beginRenaming(lastClickedNode_);
}

}  // namespace app::browser
