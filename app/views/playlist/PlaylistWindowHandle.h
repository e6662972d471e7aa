#pragma once
// PlaylistWindowHandle: one open playlist window as the application shell
// holds it (a DocumentWindowController): the Qt-free controller, the
// observers that feed it the node notifications, and the Qt window that shows
// it. makePlaylistWindowFactory() gives the shell's document controller the
// factory that makes them.
//
// Owned by the document controller (shared). Destroying it detaches the
// window from the controller first, then removes the observers, then the
// controller. GUI (main) thread.

#include <functional>
#include <memory>

#include "app/shell/DocumentWindowController.h"
#include "app/playlist/PlaylistNodeControl.h"
#include "app/playlist/PlaylistWindowController.h"
#include "app/playlist/PlaylistWindowObservers.h"

namespace app::views {

class PlaylistWindow;

// What the shell adds to each playlist window.
struct PlaylistWindowHooks {
  // Called once the operator closed the window (after the close event).
  std::function<void(const nodes::VideoPlaylistDocument& document)> closed;
  // Asked before the window closes (unsaved changes); empty: it may close.
  std::function<bool(const std::shared_ptr<nodes::VideoPlaylistDocument>& document)> shouldClose;
  // Gives the new window what every window carries (the application menus).
  std::function<void(PlaylistWindow& window, const std::shared_ptr<nodes::VideoPlaylistDocument>& document)> decorate;
};

class PlaylistWindowHandle final : public DocumentWindowController {
 public:
  using ClosedHandler = std::function<void(const nodes::VideoPlaylistDocument& document)>;

  PlaylistWindowHandle(const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                       PlaylistNodeControl& nodeControl, ClosedHandler closed = {});
  PlaylistWindowHandle(const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                       PlaylistNodeControl& nodeControl, const PlaylistWindowHooks& hooks);
  ~PlaylistWindowHandle() override;

  PlaylistWindowController& controller() { return *controller_; }
  PlaylistWindow& window() { return *window_; }

  void showWindow() override;
  void updatePlaybackStatusAfterAwakeFromNib() override { controller_->updatePlaybackStatusAfterAwakeFromNib(); }
  void documentWasReverted() override { controller_->documentWasReverted(); }
  void cueButtonPushed() override { controller_->cueButtonPushed(); }
  void playButtonPushed() override { controller_->playButtonPushed(); }
  void pauseButtonPushed() override { controller_->pauseButtonPushed(); }
  void stopButtonPushed() override { controller_->stopButtonPushed(); }
  void skipToPreviousButtonPushed() override { controller_->skipToPreviousButtonPushed(); }
  void skipToNextButtonPushed() override { controller_->skipToNextButtonPushed(); }
  void externalMixerTriggeredPlaybackStart() override { controller_->externalMixerTriggeredPlaybackStart(); }
  void externalMixerTriggeredPlaybackStop() override { controller_->externalMixerTriggeredPlaybackStop(); }

 private:
  std::unique_ptr<PlaylistWindowController> controller_;
  std::unique_ptr<PlaylistWindowObservers> observers_;
  std::unique_ptr<PlaylistWindow> window_;
};

// The shell's playlist window factory: each window drives its nodes through
// `nodeControl` (not owned; outlives every window) and reports its closing to
// `closed`.
PlaylistWindowFactory makePlaylistWindowFactory(PlaylistNodeControl& nodeControl,
                                                PlaylistWindowHandle::ClosedHandler closed);
PlaylistWindowFactory makePlaylistWindowFactory(PlaylistNodeControl& nodeControl, PlaylistWindowHooks hooks);

}  // namespace app::views
