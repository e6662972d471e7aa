#include "app/inspector/ClipInspectorWindowController.h"

#include <algorithm>
#include <any>

#include "nodes/playlist/VideoPlaylistDocument.h"

namespace app::inspector {
namespace {

std::shared_ptr<nodes::VideoPlaylistDocument> documentOf(const platform::Notification& notification) {
  if (const auto* document = std::any_cast<std::shared_ptr<nodes::VideoPlaylistDocument>>(&notification.object)) {
    return *document;
  }
  return nullptr;
}

}  // namespace

ClipInspectorWindowController::ClipInspectorWindowController(ClipInspectorContext& context)
    : context_(context),
      general_(context),
      metadata_(context),
      attributes_(context),
      inOut_(context),
      resize_(context),
      emptyUndoManager_(context.notificationCenter()) {
  for (ClipInspectorViewController* pane : std::initializer_list<ClipInspectorViewController*>{
           &general_, &metadata_, &attributes_, &inOut_, &resize_}) {
    pane->setDelegate(this);
  }
  // The metadata shows under the Info pane, on the inspector's selection.
  general_.setMetadataPane(&metadata_);
  platform::NotificationCenter& center = context_.notificationCenter();
  observers_.push_back(center.addObserver(kPlaylistSelectionChangedNotification, nullptr,
                                          [this](const platform::Notification& n) { playlistSelectionChanged(documentOf(n)); }));
  observers_.push_back(center.addObserver(kMediaBrowserSelectionDidChangedNotification, nullptr,
                                          [this](const platform::Notification&) { mediaBrowserSelectionDidChanged(); }));
  observers_.push_back(center.addObserver(kPlaylistWindowDidBecomeKeyNotification, nullptr,
                                          [this](const platform::Notification& n) { playlistWindowDidBecomeKey(documentOf(n)); }));
  observers_.push_back(center.addObserver(kMediaBrowserWindowDidBecomeKeyNotification, nullptr,
                                          [this](const platform::Notification&) { mediaBrowserWindowDidBecomeKey(); }));
  observers_.push_back(center.addObserver(kInvoqueInspectorSaveActionsForClipNotification, nullptr,
                                          [this](const platform::Notification&) { saveChangesForCurrentClip(); }));
}

ClipInspectorWindowController::~ClipInspectorWindowController() { observers_.clear(); }

void ClipInspectorWindowController::windowDidLoad() {
  if (window_) window_->selectToolbarItem(kInspectorToolbarItems[0].identifier);
  for (const InspectorToolbarItem& item : kInspectorToolbarItems) {
    ClipInspectorViewController* pane = paneForTag(item.tag);
    pane->setTitle(item.identifier);
    if (window_) minimumPanelSizes_[item.identifier] = window_->paneViewSize(*pane);
  }
  setInspectorPaneViewController(attributes_);
}

void ClipInspectorWindowController::playlistSelectionChanged(std::shared_ptr<nodes::VideoPlaylistDocument> document) {
  playlistDocument_ = std::move(document);
  if (current_) current_->updateContents();
}

void ClipInspectorWindowController::mediaBrowserSelectionDidChanged() {
  playlistDocument_ = nullptr;
  if (current_) current_->updateContents();
}

std::vector<ClipInspectorViewController*> ClipInspectorWindowController::editingPanes() {
  return {&inOut_, &attributes_, &resize_};
}

void ClipInspectorWindowController::playlistWindowDidBecomeKey(std::shared_ptr<nodes::VideoPlaylistDocument> document) {
  playlistDocument_ = std::move(document);
  for (ClipInspectorViewController* pane : editingPanes()) pane->updateContents();
  general_.updateContents();
  for (ClipInspectorViewController* pane : editingPanes()) pane->enableControls();
}

void ClipInspectorWindowController::mediaBrowserWindowDidBecomeKey() {
  playlistDocument_ = nullptr;
  for (ClipInspectorViewController* pane : editingPanes()) pane->updateContents();
  general_.updateContents();
  for (ClipInspectorViewController* pane : editingPanes()) pane->desableControls();
}

void ClipInspectorWindowController::saveChangesForCurrentClip() {
  if (current_) current_->saveAllChanges();
}

bool ClipInspectorWindowController::lockedClipsChanged(const std::vector<std::string>& lockedPlaybackUniqueIDs) {
  bool locked = false;
  if (playlistDocument_) {
    for (const std::size_t index : playlistDocument_->selectedClipIndexes()) {
      const auto item = playlistDocument_->clipAtIndex(static_cast<std::int64_t>(index));
      const auto id = item ? item->playbackUniqueID() : std::nullopt;
      if (id && std::find(lockedPlaybackUniqueIDs.begin(), lockedPlaybackUniqueIDs.end(), *id) !=
                    lockedPlaybackUniqueIDs.end()) {
        locked = true;
        break;
      }
    }
  }
  attributes_.disabledPluginsInterface(locked);
  return locked;
}

platform::UndoManager* ClipInspectorWindowController::undoManager() const {
  return playlistDocument_ ? &playlistDocument_->undoManager() : nullptr;
}

platform::UndoManager& ClipInspectorWindowController::windowWillReturnUndoManager() {
  if (platform::UndoManager* manager = undoManager()) return *manager;
  return emptyUndoManager_;
}

ClipInspectorViewController* ClipInspectorWindowController::paneForTag(int tag) {
  switch (tag) {
    case 0: return &attributes_;
    case 1: return &inOut_;
    case 2: return &resize_;
    case 3: return &general_;
    default: return nullptr;
  }
}

void ClipInspectorWindowController::changePanes(int tag) {
  if (ClipInspectorViewController* pane = paneForTag(tag)) setInspectorPaneViewController(*pane);
}

void ClipInspectorWindowController::setInspectorPaneViewController(ClipInspectorViewController& pane) {
  if (current_ == &inOut_) inOut_.setCurrentClip(nullptr);
  pane.updateContents();
  current_ = &pane;
  resizeWindowWithViewController(pane);
}

void ClipInspectorWindowController::resizeWindowWithViewController(ClipInspectorViewController& pane) {
  if (!window_) return;
  const auto minimum = minimumPanelSizes_.find(pane.title());
  const PaneSize minimumSize = minimum == minimumPanelSizes_.end() ? PaneSize{} : minimum->second;
  window_->showPane(pane, paneResize(window_->frame(), window_->contentSize(), window_->paneViewSize(pane), minimumSize));
}

bool ClipInspectorWindowController::keyDown(const ClipPreviewKey& key) {
  return current_ && current_->handleKeyDownWithEvent(key);
}

}  // namespace app::inspector
