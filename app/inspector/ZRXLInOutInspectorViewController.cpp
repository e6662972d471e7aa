#include "app/inspector/ZRXLInOutInspectorViewController.h"

#include <cmath>

#include "app/inspector/ClipInspectorWindowController.h"
#include "app/preview/PlaylistClipPreviewItem.h"
#include "nodes/playlist/VideoPlaylistDocument.h"

namespace app::inspector {
namespace {

constexpr double kNoPoint = -1.0;

struct Conflict {
  const char* same;
  const char* wrongSide;
  const char* afterEnd;
  const char* outOfRange;
};

constexpr Conflict kInConflict{
    "The In Point is at the same position as Out Point. Place your cursor before Out Point, and try again.",
    "The In Point cannot be set after the Out Point. Place your cursor before Out Point, and try again.",
    "The In Point cannot be set after the end of clip.",
    "The In Point must be a time within the clip."};
constexpr Conflict kOutConflict{
    "The Out Point is at the same position as In Point. Place your cursor before Out Point, and try again.",
    "The Out Point cannot be set before the In Point. Place your cursor before Out Point, and try again.",
    "The Out Point cannot be set after the end of clip.",
    "The Out Point must be a time within the clip."};
constexpr const char* kBadDurationText = "The duration must be a time above 0.";

}  // namespace

ZRXLInOutInspectorViewController::~ZRXLInOutInspectorViewController() { setPreview(nullptr); }

void ZRXLInOutInspectorViewController::setPreview(ClipPreviewViewController* preview) {
  if (preview_) preview_->setDelegate(nullptr);
  preview_ = preview;
  if (!preview_) return;
  preview_->setAllowMixPoints(false);
  preview_->setDelegate(this);
  setCurrentClip(item_);
}

void ZRXLInOutInspectorViewController::updateContents() {
  if (!playlistDocument()) {
    state_.message = kInOutMediaBrowserText;
  } else if (!canModifyCurrentPlaylist()) {
    state_.message = kPlaylistIsLockedText;
  } else {
    state_.message.clear();
  }
  const PlaylistItems items = selectedPlaylistItems();
  setCurrentClip(items.empty() ? nullptr : items.front());
  refreshView();
}

void ZRXLInOutInspectorViewController::setCurrentClip(std::shared_ptr<nodes::PlaylistItem> item) {
  const bool changed = item != item_;
  item_ = std::move(item);
  if (!preview_) return;
  const auto* shown = dynamic_cast<const PlaylistClipPreviewItem*>(preview_->item().get());
  if (!changed && (shown ? shown->playlistItem() : nullptr) == item_) return;
  preview_->setItem(item_ ? std::make_shared<PlaylistClipPreviewItem>(item_, context_.defaults()) : nullptr);
}

bool ZRXLInOutInspectorViewController::handleKeyDownWithEvent(const ClipPreviewKey& key) {
  return preview_ && preview_->handleKeyDownWithEvent(key);
}

bool ZRXLInOutInspectorViewController::mayEdit() const {
  return item_ && playlistDocument() && canModifyCurrentPlaylist();
}

bool ZRXLInOutInspectorViewController::acceptsPoint(const nodes::PlaylistItem& item, Point point, double seconds) {
  // While undoing, any recorded value may come back.
  if (delegate() && delegate()->windowWillReturnUndoManager().isUndoing()) return true;
  const Conflict& conflict = point == Point::In ? kInConflict : kOutConflict;
  const char* refusal = nullptr;
  if (seconds == kNoPoint) {
    refusal = nullptr;  // clearing is always allowed
  } else if (!std::isfinite(seconds) || seconds < 0.0) {
    refusal = conflict.outOfRange;
  } else if (point == Point::In) {
    const double out = item.finalOutPointInSeconds();
    if (seconds == out) refusal = conflict.same;
    else if (seconds > out) refusal = conflict.wrongSide;
    else if (seconds > item.mediaItemDurationInSeconds()) refusal = conflict.afterEnd;
  } else {
    const double in = item.finalInPointInSeconds();
    if (seconds == in) refusal = conflict.same;
    else if (seconds < in) refusal = conflict.wrongSide;
    else if (seconds > item.mediaItemDurationInSeconds()) refusal = conflict.afterEnd;
  }
  if (refusal) context_.runWarningAlert(kInOutConflictTitle, refusal);
  return refusal == nullptr;
}

bool ZRXLInOutInspectorViewController::setInPointInSeconds(double seconds) {
  if (mayEdit() && acceptsPoint(*item_, Point::In, seconds)) applyPoint(item_, Point::In, seconds);
  return true;
}

bool ZRXLInOutInspectorViewController::setOutPointInSeconds(double seconds) {
  if (mayEdit() && acceptsPoint(*item_, Point::Out, seconds)) applyPoint(item_, Point::Out, seconds);
  return true;
}

void ZRXLInOutInspectorViewController::applyPoint(const std::shared_ptr<nodes::PlaylistItem>& item, Point point,
                                                  double seconds) {
  const double old = point == Point::In ? item->inPointInSeconds() : item->outPointInSeconds();
  if (seconds == old) return;
  if (delegate()) {
    platform::UndoManager& undo = delegate()->windowWillReturnUndoManager();
    undo.registerUndo([this, item, point, old] { applyPoint(item, point, old); });
    const bool clear = seconds == kNoPoint;
    undo.setActionName(point == Point::In ? (clear ? "Clear In" : "Mark In") : (clear ? "Clear Out" : "Mark Out"));
  }
  if (point == Point::In) {
    item->setInPointInSeconds(seconds);
    item->setHasInPoint(seconds != kNoPoint);
  } else {
    item->setOutPointInSeconds(seconds);
    item->setHasOutPoint(seconds != kNoPoint);
  }
  itemChanged();
}

bool ZRXLInOutInspectorViewController::setMediaItemDurationInSeconds(double seconds) {
  if (!mayEdit()) return true;
  if (!std::isfinite(seconds) || seconds <= 0.0) {
    context_.runWarningAlert(kInOutConflictTitle, kBadDurationText);
    return true;
  }
  if (item_->mediaItemDurationInSeconds() == seconds) return true;
  applyDuration(item_, seconds, seconds);
  context_.addOrUpdateClips({item_});
  return true;
}

// The duration and the out point it moves are one undo group, so undo brings
// both back.
void ZRXLInOutInspectorViewController::applyDuration(const std::shared_ptr<nodes::PlaylistItem>& item,
                                                     double duration, double outPoint) {
  const double oldDuration = item->mediaItemDurationInSeconds();
  const double oldOutPoint = item->outPointInSeconds();
  if (duration == oldDuration && outPoint == oldOutPoint) return;
  if (delegate()) {
    platform::UndoManager& undo = delegate()->windowWillReturnUndoManager();
    undo.beginUndoGrouping();
    undo.registerUndo([this, item, oldDuration, oldOutPoint] { applyDuration(item, oldDuration, oldOutPoint); });
    undo.setActionName("Update Duration");
    undo.endUndoGrouping();
  }
  item->setMediaItemDurationInSeconds(duration);
  item->setOutPointInSeconds(outPoint);
  item->setHasOutPoint(outPoint != kNoPoint);
  itemChanged();
}

void ZRXLInOutInspectorViewController::itemChanged() {
  const auto document = playlistDocument();
  if (!document) return;
  if (replaceSelectedClipsOnNodes(*document, false) == 0) postInspectorDidChangeClips(*document);
  document->updatePlaylistMovieAndStartTimes();
  const platform::UndoManager& undo = document->undoManager();
  if (!undo.isUndoing() && !undo.isRedoing()) {
    document->updateChangeCount(nodes::VideoPlaylistDocument::DocumentChange::Done);
  }
}

}  // namespace app::inspector
