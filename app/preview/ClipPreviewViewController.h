#pragma once
// ClipPreviewViewController: the preview pane of the clip inspector. It shows
// one item in a player view with a play/pause button, a timeline slider, the
// current position and the item's in point, out point, in/out duration, media
// duration and mix points, and edits the in and out points (marks, go-tos,
// typed timecodes, the keyboard). Playback is local: nothing goes to a node.
//
// Changes go to the delegate when it takes them, otherwise to the item.
// Owns its player view; borrows its controls and delegate (their owners
// outlive it or detach first). Lives on: the main queue; the player view's
// messages arrive there.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/preview/ClipPreviewControls.h"
#include "app/preview/ClipPreviewItem.h"
#include "app/preview/InOutInspectorViewControllerDelegate.h"
#include "media/preview/CVNPlayerView.h"
#include "nodes/playlist/CVNTimeFormatter.h"
#include "platform/Observable.h"
#include "platform/UserDefaults.h"

namespace app {

inline constexpr const char* kIgnoreTCOffsetInInspectorKey = "ignoreTCOffsetInInspector";

inline constexpr const char* kMediaFileIsOfflineText = "Media File Is Offline";
inline constexpr const char* kMediaFileIsRemoteText = "Media File Is Remote";
inline constexpr const char* kMediaFileIsInvalidText = "Media File Is Invalid";
inline constexpr const char* kVoviInputNotConnectedText = "Vovi Input Not Connected";
inline constexpr const char* kLoadingStreamText = "Loading Stream";

// A key pressed in the pane: its characters without modifiers (or an arrow),
// and the two modifiers the pane tells apart (Option is Alt).
struct ClipPreviewKey {
  enum class Kind : std::int32_t { Character = 1, LeftArrow, RightArrow };
  Kind kind = Kind::Character;
  std::string characters;
  bool shift = false;
  bool option = false;
};

class ClipPreviewViewController final : private media::CVNPlayerViewDelegate {
 public:
  ClipPreviewViewController(std::unique_ptr<media::CVNPlayerView> player, platform::UserDefaults& defaults);
  ~ClipPreviewViewController() override;
  ClipPreviewViewController(const ClipPreviewViewController&) = delete;
  ClipPreviewViewController& operator=(const ClipPreviewViewController&) = delete;

  // The controls are ready (nullptr: they are going away).
  void loadView(ClipPreviewControls* controls);
  InOutInspectorViewControllerDelegate* delegate() const { return delegate_; }
  // Not owned; outlives the pane or is cleared first.
  void setDelegate(InOutInspectorViewControllerDelegate* delegate) { delegate_ = delegate; }

  // ---- Loading, counters and transport ----
  void setItem(std::shared_ptr<ClipPreviewItem> item);
  const std::shared_ptr<ClipPreviewItem>& item() const { return item_; }
  // The player view in use; none when the item cannot be played.
  media::CVNPlayerView* playerView() const { return playerView_; }
  double currentPosition() const;
  const nodes::CVNTimeFormatter& timeCodeFormatter() const { return formatterWithoutOffset_; }
  const nodes::CVNTimeFormatter& timeCodeFormatterWithOffset() const { return formatterWithOffset_; }
  double itemResolvedInPointInSeconds() const;
  double itemResolvedOutPointInSeconds() const;
  void updateDisplayedTimecodes();
  void reflectTimingUIForItem();
  void setSliderMaxValue(double seconds);
  void updateSliderPosition();
  void playPauseButtonAction();
  void seekToTime(double seconds, bool precisely);
  void seekToTime(double seconds, bool precisely, bool backwards);
  // The timeline slider moved (acts only while the user drags it).
  void positionSliderChanged(double seconds);
  void startedScrubbingTimelineAtPosition(double seconds);
  void stoppedScrubbingTimelineAtPosition(double seconds);
  bool isTrackingPositionSlider() const { return isTrakingPositionSlider_; }
  bool allowMixPoints() const { return allowMixPoints_; }
  void setAllowMixPoints(bool allow) { allowMixPoints_ = allow; }
  bool showMixPoints() const { return showMixPoints_; }
  // Follows the window's Option key.
  void setShowMixPoints(bool show);
  void setOutputFrameDuration(platform::media::MediaTime duration) { outputFrameDuration_ = duration; }
  // Hiding or closing the window pauses; showing it again does not resume.
  void windowVisibilityChanged(bool visible);

  // ---- In/out editing and the keyboard ----
  void markInPoint();
  void markOutPoint();
  void goInPoint();
  void goOutPoint();
  void clearInPoint();
  void clearOutPoint();
  void setInPointInSeconds(double seconds);
  void setOutPointInSeconds(double seconds);
  void setMediaItemDuration(double seconds);
  // Typed text of a field, on Return; text that is no entry restores the field.
  void mediaDurationFieldAction(const std::string& text);
  void inPointTextFieldAction(const std::string& text);
  void outPointTextFieldAction(const std::string& text);
  void currentPositionTextFieldAction(const std::string& text);
  // Segments 0 mark, 1 go, 2 clear.
  void inPointSegmentedControlPushed(int segment);
  void outPointSegmentedControlPushed(int segment);
  void previousClipMixPointSegmentedButtonAction(int segment);
  void nextClipMixPointSegmentedButonAction(int segment);
  void splitButtonPushed();
  void splitClipAtPosition(double seconds);
  bool overridenInOutMode() const { return overridenInOutMode_; }
  void setShowOverridenInOutPointCheckbox(bool show);
  void inOutPointCheckBoxAction(bool checked);
  void updateControlsEnabledStates();
  // True when the pane took the key.
  bool handleKeyDownWithEvent(const ClipPreviewKey& key);
  // Typing in the playhead field pauses.
  void playHeadTextFieldDidBecomeFirstResponder();

 private:
  // CVNPlayerViewDelegate.
  void playerViewPositionChanged(media::CVNPlayerView& view, platform::media::MediaTime position) override;
  void playerViewStatusChanged(media::CVNPlayerView& view, std::int32_t status) override;
  void playerViewDurationDidChange(media::CVNPlayerView& view, double seconds) override;

  void observeItem();
  void loadItem();
  void itemLoaded();
  void updateUIForNewInitializedItem();
  void itemDidInitialize();
  void validationErrorReasonChanged();
  std::int64_t frameOffsetFromPlayer() const;
  double frameDurationSeconds() const;
  void setEnabled(ClipPreviewControl control, bool enabled);
  void setField(ClipPreviewField field, double seconds);
  void setCurrentPositionDoubleValueIfNotEditing(double seconds);
  // The seconds a typed entry stands for, counted from `base` when relative;
  // none (and the field restored) for text that is no entry.
  std::optional<double> enteredSeconds(nodes::CVNTimeFormatter& formatter, const std::string& text, double base);
  bool resolvedURLExists() const;
  bool isLive() const;
  bool isTimed() const;

  std::unique_ptr<media::CVNPlayerView> player_;
  media::CVNPlayerView* playerView_ = nullptr;  // player_ or none
  platform::UserDefaults& defaults_;
  ClipPreviewControls* controls_ = nullptr;                // not owned; detaches before it goes
  InOutInspectorViewControllerDelegate* delegate_ = nullptr;  // not owned; outlives the pane
  std::shared_ptr<ClipPreviewItem> item_;
  nodes::CVNTimeFormatter formatterWithOffset_;
  nodes::CVNTimeFormatter formatterWithoutOffset_;
  bool isTrakingPositionSlider_ = false;
  bool overridenInOutMode_ = false;
  bool allowMixPoints_ = true;
  bool showMixPoints_ = false;
  // The in- and out-point fields take edits (the keys I, O and X follow them).
  bool inOutFieldsEnabled_ = false;
  // Invalid until the owner sets one: a zero time would freeze stills.
  platform::media::MediaTime outputFrameDuration_ = platform::media::MediaTime::invalid();
  // Which load a completion belongs to: a late one of an item no longer shown is dropped.
  std::uint64_t loadGeneration_ = 0;
  std::vector<platform::ObservationToken> itemObservations_;
  platform::ObservationToken tcOffsetObservation_;
};

}  // namespace app
