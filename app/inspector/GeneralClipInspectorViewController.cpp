#include "app/inspector/GeneralClipInspectorViewController.h"

#include <cstdio>

#include "app/inspector/MetadataClipInspectorViewController.h"
#include "nodes/playlist/PlaylistItem.h"

namespace app::inspector {
namespace {

std::string format(const char* pattern, double a, double b = 0) {
  char text[96];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

std::string pointText(const nodes::PlaylistItem& item, bool hasPoint, double seconds) {
  return hasPoint ? item.timeCodeFormatter().stringForObjectValue(seconds) : "none";
}

}  // namespace

void GeneralClipInspectorViewController::updateContents() {
  const PlaylistItems items = selectedPlaylistItems();
  GeneralPaneState state;
  if (items.size() != 1) {
    state.selectionValidation = items.empty() ? kNoSelectionText : kMultipleSelectionText;
  } else {
    const nodes::PlaylistItem& item = *items.front();
    state.labelsHidden = false;
    auto set = [&state](InfoField field, std::string text, std::string toolTip = {}) {
      state.values[static_cast<std::size_t>(field)] = InfoValue{std::move(text), std::move(toolTip)};
    };
    set(InfoField::ClipName, item.displayName(), item.uniqueID().value_or(""));
    set(InfoField::Source, item.absolutePathToMediaItem(), item.mediaItemUniqueID().value_or(""));
    set(InfoField::Format, item.videoCodecDescription());
    set(InfoField::Fps, format(item.dropFrame() ? "%0.2f (drop frame)" : "%0.2f", item.framesPerSecond()));
    set(InfoField::Duration, item.durationAsString());
    set(InfoField::NodeName, item.nodeName().empty() ? "-" : item.nodeName());
    set(InfoField::InPoint, pointText(item, item.hasInPoint(), item.inPointInSeconds()));
    set(InfoField::OutPoint, pointText(item, item.hasOutPoint(), item.outPointInSeconds()));
    set(InfoField::MediaFolderPath, item.mediaFolderPath(), item.mediaFolderUniqueID());
    const bool resized = item.resizeIsEffective();
    set(InfoField::Size, format("%0.0f x %0.0f pixels", resized ? item.displaySizeWidth() : item.naturalSizeWidth(),
                                resized ? item.displaySizeHeight() : item.naturalSizeHeight()));
  }
  state_ = std::move(state);
  if (metadata_) metadata_->updateContents();
  refreshView();
}

}  // namespace app::inspector
