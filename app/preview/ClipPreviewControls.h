#pragma once
// The controls of the clip preview pane, as its controller drives them: the
// window code implements this over real widgets, tests record it. Texts come
// formatted; the controls only show them.
//
// Main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "nodes/media/TiffImage.h"

namespace app {

enum class ClipPreviewField : std::int32_t {
  CurrentPosition = 1,
  InPoint,
  OutPoint,
  InOutDuration,
  MediaDuration,
  PreviousItemMixPoint,
  NextItemMixPoint,
};

enum class ClipPreviewControl : std::int32_t {
  PlayPauseButton = 1,
  InPointField,
  OutPointField,
  MediaDurationField,
  InPointMark,
  InPointGo,
  InPointClear,
  OutPointMark,
  OutPointGo,
  OutPointClear,
  SplitButton,
  OverridenInOutPointCheckBox,
  LoadingIndicator,
  PlayerView,
  ThumbnailView,
  MixPointViewContainer,
};

class ClipPreviewControls {
 public:
  virtual ~ClipPreviewControls() = default;

  virtual void setFieldText(ClipPreviewField field, const std::string& text) = 0;
  // Whether the user is typing in the field (its text is then left alone).
  virtual bool isEditing(ClipPreviewField field) const = 0;
  virtual void setEnabled(ClipPreviewControl control, bool enabled) = 0;
  virtual void setHidden(ClipPreviewControl control, bool hidden) = 0;
  virtual void setErrorText(const std::string& text) = 0;
  virtual void setPlaying(bool playing) = 0;
  virtual void setOverridenInOutPointChecked(bool checked) = 0;
  virtual void setSliderMaximum(double seconds) = 0;
  virtual void setSliderValue(double seconds) = 0;
  virtual void setMarkers(double inPoint, double outPoint, double duration) = 0;
  virtual void setThumbnail(std::shared_ptr<const nodes::RGBAImage> image) = 0;
  // Focus to the current-position field, with `text` typed at the end of it
  // (on the next turn of the main loop, once the field is editing).
  virtual void focusCurrentPositionField(const std::string& text) = 0;
  // Focus back to the pane itself (the field being left).
  virtual void focusPane() = 0;
};

}  // namespace app
