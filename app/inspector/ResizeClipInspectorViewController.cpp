#include "app/inspector/ResizeClipInspectorViewController.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "nodes/playlist/VideoPlaylistDocument.h"

namespace app::inspector {
namespace {

constexpr const char* kErrorDomain = "ResizeClipInspector";
enum class ResizeError { NotANumber = 1, OutOfRange = 2, NoPlaylist = 3 };
constexpr std::array<const char*, 4> kFieldNames{"X", "Y", "Width", "Height"};

std::string numberText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// Every value equal (a NaN is never equal).
template <typename Read>
bool allEqual(const PlaylistItems& items, Read read) {
  const float first = read(*items.front());
  for (const auto& item : items) {
    if (!(read(*item) == first)) return false;
  }
  return true;
}

// The field's number; none for an empty field (each clip keeps its value).
platform::Result<std::optional<float>> fieldValue(const std::string& text, ResizeField field) {
  const std::string name = kFieldNames[static_cast<std::size_t>(field)];
  if (text.find_first_not_of(" \t") == std::string::npos) return std::optional<float>{};
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  while (end && (*end == ' ' || *end == '\t')) ++end;
  if (end == text.c_str() || !end || *end != '\0' || !std::isfinite(value)) {
    return platform::Error(kErrorDomain, ResizeError::NotANumber, name + " is not a number.");
  }
  const bool isSize = field == ResizeField::Width || field == ResizeField::Height;
  const bool inRange = isSize ? value > 0.0 && value <= kMaximumResizeExtent : std::fabs(value) <= kMaximumResizeExtent;
  if (!inRange) {
    return platform::Error(kErrorDomain, ResizeError::OutOfRange,
                           isSize ? name + " must be above 0 and at most 16384."
                                  : name + " must be between -16384 and 16384.");
  }
  return std::optional<float>{static_cast<float>(value)};
}

}  // namespace

void ResizeClipInspectorViewController::updateContents() {
  const PlaylistItems items = selectedPlaylistItems();
  if (lastUpdateComeFromInspector() || items.empty()) {
    state_.selectionValidation = lastUpdateComeFromInspector() ? kMediaBrowserAttributesText : kNoSelectionText;
    state_.controlsHidden = true;
  } else {
    populateFieldsValuesWithPlaylistItems(items);
    if (canModifyCurrentPlaylist()) {
      state_.checkBoxEnabled = true;
    } else {
      setEnabledControls(false);
    }
    state_.controlsHidden = false;
    state_.selectionValidation.clear();
  }
  refreshView();
}

void ResizeClipInspectorViewController::populateFieldsValuesWithPlaylistItems(const PlaylistItems& items) {
  if (items.empty()) return;
  const nodes::PlaylistItem& first = *items.front();
  const bool effective = first.resizeIsEffective();
  bool mixed = false;
  for (std::size_t i = 1; i < items.size(); ++i) mixed = mixed || items[i]->isResized() != effective;
  state_.checkBox = mixed ? CheckState::Mixed : effective ? CheckState::On : CheckState::Off;
  state_.checkBoxEnabled = true;
  state_.fieldsEnabled = mixed || effective;
  const bool display = mixed || effective;
  auto show = [&](ResizeField field, bool same, double value) {
    state_.fields[static_cast<std::size_t>(field)] = same ? numberText(value) : std::string();
  };
  show(ResizeField::OriginX, allEqual(items, [](const auto& i) { return i.displayOriginX(); }), first.displayOriginX());
  show(ResizeField::OriginY, allEqual(items, [](const auto& i) { return i.displayOriginY(); }), first.displayOriginY());
  show(ResizeField::Width, allEqual(items, [](const auto& i) { return i.displaySizeWidth(); }),
       display ? first.displaySizeWidth() : first.naturalSizeWidth());
  show(ResizeField::Height, allEqual(items, [](const auto& i) { return i.displaySizeHeight(); }),
       display ? first.displaySizeHeight() : first.naturalSizeHeight());
}

void ResizeClipInspectorViewController::setEnabledControls(bool enabled) {
  enabledControls_ = enabled;
  state_.checkBoxEnabled = enabled;
  state_.fieldsEnabled = enabled && state_.checkBox == CheckState::On;
  refreshView();
}

void ResizeClipInspectorViewController::setFieldText(ResizeField field, std::string text) {
  state_.fields[static_cast<std::size_t>(field)] = std::move(text);
}

void ResizeClipInspectorViewController::resizeVideoChecked() {
  state_.checkBox = state_.checkBox == CheckState::On ? CheckState::Off : CheckState::On;
  state_.fieldsEnabled = state_.checkBox == CheckState::On;
  if (state_.checkBox == CheckState::Off) {
    if (performResize()) {
      if (const auto document = playlistDocument()) {
        document->updateChangeCount(nodes::VideoPlaylistDocument::DocumentChange::Done);
      }
    }
  }
  refreshView();
}

platform::Status ResizeClipInspectorViewController::apply() {
  platform::Status status = performResize();
  if (status) {
    if (const auto document = playlistDocument()) {
      document->updateChangeCount(nodes::VideoPlaylistDocument::DocumentChange::Done);
    }
  }
  return status;
}

platform::Status ResizeClipInspectorViewController::performResize() {
  const auto document = playlistDocument();
  if (!document) return platform::Error(kErrorDomain, ResizeError::NoPlaylist, "Media browser clips are not resized.");
  const bool on = state_.checkBox == CheckState::On;
  std::array<std::optional<float>, 4> values{};
  if (on) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      auto value = fieldValue(state_.fields[i], static_cast<ResizeField>(i));
      if (!value) return value.error();
      values[i] = value.value();
    }
  }
  for (const auto& item : selectedPlaylistItems()) {
    item->setDisplayOriginX(on ? values[0].value_or(item->displayOriginX()) : 0.0F);
    item->setDisplayOriginY(on ? values[1].value_or(item->displayOriginY()) : 0.0F);
    item->setDisplaySizeWidth(on ? values[2].value_or(item->displaySizeWidth()) : 0.0F);
    item->setDisplaySizeHeight(on ? values[3].value_or(item->displaySizeHeight()) : 0.0F);
    item->setResized(on);
  }
  if (replaceSelectedClipsOnNodes(*document, false) == 0) postInspectorDidChangeClips(*document);
  return platform::Status::success();
}

}  // namespace app::inspector
