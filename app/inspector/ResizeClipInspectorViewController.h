#pragma once
// ResizeClipInspectorViewController: the Resize pane: where and how large the
// inspected clips show on the output (origin x, y; width, height), switched
// by a three-state box. Differing values show as empty fields; Apply writes
// the fields into every clip, where an empty field leaves each clip's own
// value; switching the box off resets the clips at once. Changed clips go to
// the nodes that play the playlist, else the playlist windows are told.
//
// Owned by the window controller. Main thread only.

#include <array>
#include <cstddef>
#include <string>

#include "app/inspector/ClipInspectorViewController.h"

namespace app::inspector {

enum class ResizeField : std::size_t { OriginX = 0, OriginY, Width, Height, Count };

// Largest width or height, and largest distance of an origin from 0.
inline constexpr double kMaximumResizeExtent = 16384.0;

struct ResizePaneState {
  std::string selectionValidation;
  bool controlsHidden = true;
  bool checkBoxEnabled = false;
  bool fieldsEnabled = false;  // the four fields and Apply
  CheckState checkBox = CheckState::Off;
  std::array<std::string, static_cast<std::size_t>(ResizeField::Count)> fields{};
  const std::string& operator[](ResizeField field) const { return fields[static_cast<std::size_t>(field)]; }
};

class ResizeClipInspectorViewController final : public ClipInspectorViewController {
 public:
  using ClipInspectorViewController::ClipInspectorViewController;

  void updateContents() override;
  void enableControls() override { setEnabledControls(true); }
  void desableControls() override { setEnabledControls(false); }
  void populateFieldsValuesWithPlaylistItems(const PlaylistItems& items);
  // The operator typed into a field (shown as typed until Apply).
  void setFieldText(ResizeField field, std::string text);
  // The box was clicked: mixed and off turn on, on turns off.
  void resizeVideoChecked();
  // Apply: refused (with the reason) when a field holds no number in range.
  platform::Status apply();
  const ResizePaneState& state() const { return state_; }

 private:
  void setEnabledControls(bool enabled);
  platform::Status performResize();

  ResizePaneState state_;
  bool enabledControls_ = true;
};

}  // namespace app::inspector
