#pragma once
// ClipPreviewView: the clip preview pane's widgets. The picture (black, the
// clip fitted in it, the error text over it), the transport row (play/pause,
// timeline slider, current position), and the in/out controls in the
// accessory container (in and out points with mark, go and clear, the
// in/out and media durations, split, the overridden check box); the mix
// points show while Alt is held. It owns the pane's controller and forwards
// every event to it, deciding nothing; keys pressed anywhere in the pane but
// a timecode field go to the controller first.
//
// Owned by its parent widget. GUI thread.

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/preview/ClipPreviewControls.h"
#include "app/preview/ClipPreviewViewController.h"
#include "media/preview/SampleBufferDisplay.h"

class QAbstractButton;
class QKeyEvent;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QToolButton;

namespace app::views {

class InOutPointViewer;
class PlayheadTextField;
class SampleBufferDisplayWidget;
class TimecodeTextField;
class TimelineSlider;

// The key as the pane's table reads it: characters without modifiers; none
// for menu shortcuts and keys the pane does not use.
std::optional<ClipPreviewKey> clipPreviewKeyForEvent(const QKeyEvent& event);

class ClipPreviewView final : public QWidget, public ClipPreviewControls {
  Q_OBJECT

 public:
  using PlayerFactory = std::function<std::unique_ptr<media::CVNPlayerView>(media::SampleBufferDisplay*)>;

  // Previews through a session player view on the pane's own display.
  explicit ClipPreviewView(platform::UserDefaults& defaults, QWidget* parent = nullptr);
  ClipPreviewView(const PlayerFactory& makePlayer, platform::UserDefaults& defaults, QWidget* parent = nullptr);
  ~ClipPreviewView() override;

  ClipPreviewViewController& controller() { return *controller_; }
  SampleBufferDisplayWidget& display() { return *display_; }
  QWidget& inOutControlsView() { return *inOutControls_; }
  // Shows `view` in the accessory container, pinned to its edges; nullptr
  // means the in/out controls.
  void setAccessoryView(QWidget* view);

  // ClipPreviewControls.
  void setFieldText(ClipPreviewField field, const std::string& text) override;
  bool isEditing(ClipPreviewField field) const override;
  void setEnabled(ClipPreviewControl control, bool enabled) override;
  void setHidden(ClipPreviewControl control, bool hidden) override;
  void setErrorText(const std::string& text) override;
  void setPlaying(bool playing) override;
  void setOverridenInOutPointChecked(bool checked) override;
  void setSliderMaximum(double seconds) override;
  void setSliderValue(double seconds) override;
  void setMarkers(double inPoint, double outPoint, double duration) override;
  void setThumbnail(std::shared_ptr<const nodes::RGBAImage> image) override;
  void focusCurrentPositionField(const std::string& text) override;
  void focusPane() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QWidget* makePicture();
  QWidget* makeTransportRow();
  QWidget* makeInOutControls();
  QWidget* makeMixPoints();
  // A timecode field whose Return goes to `action` and Escape back to the pane.
  TimecodeTextField* makeField(ClipPreviewField field, void (ClipPreviewViewController::*action)(const std::string&));
  // Three buttons "Mrk", "Go", "Clr" for segments 0, 1 and 2, known as `names` when given.
  QWidget* makeSegments(void (ClipPreviewViewController::*action)(int), std::vector<ClipPreviewControl> names = {});
  bool forwardKey(QKeyEvent& event);
  void followAltKey(const QKeyEvent& event);

  SampleBufferDisplayWidget* display_ = nullptr;
  InOutPointViewer* markers_ = nullptr;
  QLabel* errorLabel_ = nullptr;
  QLabel* thumbnail_ = nullptr;
  QProgressBar* loading_ = nullptr;
  QToolButton* playPause_ = nullptr;
  TimelineSlider* slider_ = nullptr;
  PlayheadTextField* position_ = nullptr;
  QCheckBox* overriden_ = nullptr;
  QLabel* inOutDuration_ = nullptr;
  QWidget* inOutControls_ = nullptr;
  QWidget* mixPoints_ = nullptr;
  QWidget* accessoryContainer_ = nullptr;
  std::map<ClipPreviewField, QLineEdit*> fields_;
  std::map<ClipPreviewControl, QWidget*> controls_;
  // Last: goes first, with the player view that draws into display_.
  std::unique_ptr<ClipPreviewViewController> controller_;
};

}  // namespace app::views
