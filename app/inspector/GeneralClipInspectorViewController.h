#pragma once
// GeneralClipInspectorViewController: the Info pane. One selected clip shows
// its name, source file, format, rate, duration, size, node, in and out
// points and media folder, with unique IDs as tool tips; no clip or several
// show why instead, with every label hidden. The metadata pane shows under
// it and is refreshed with it.
//
// Owned by the window controller. Main thread only.

#include <array>
#include <cstddef>
#include <string>

#include "app/inspector/ClipInspectorViewController.h"

namespace app::inspector {

class MetadataClipInspectorViewController;

// The value labels, in the order of the pane's label list.
enum class InfoField : std::size_t {
  ClipName = 0, Source, Format, Fps, Duration, Size, NodeName, InPoint, OutPoint, MediaFolderPath, Count
};

inline constexpr std::array<const char*, static_cast<std::size_t>(InfoField::Count)> kInfoFieldCaptions{
    "Name:", "Source:", "Format:", "FPS:", "Duration:", "Size:", "Node:", "In Point:", "Out Point:", "Media Folder:"};

struct InfoValue {
  std::string text;
  std::string toolTip;
  friend bool operator==(const InfoValue&, const InfoValue&) = default;
};

struct GeneralPaneState {
  std::string selectionValidation;
  bool labelsHidden = true;
  std::array<InfoValue, static_cast<std::size_t>(InfoField::Count)> values{};
  const InfoValue& operator[](InfoField field) const { return values[static_cast<std::size_t>(field)]; }
};

class GeneralClipInspectorViewController final : public ClipInspectorViewController {
 public:
  using ClipInspectorViewController::ClipInspectorViewController;

  // The pane shown under this one (not owned; the window controller owns both).
  void setMetadataPane(MetadataClipInspectorViewController* metadata) { metadata_ = metadata; }
  void updateContents() override;
  const GeneralPaneState& state() const { return state_; }

 private:
  GeneralPaneState state_;
  MetadataClipInspectorViewController* metadata_ = nullptr;
};

}  // namespace app::inspector
