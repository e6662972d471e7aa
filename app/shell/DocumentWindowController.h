#pragma once
// DocumentWindowController: a playlist document's window as the application
// shell drives it: show it, refresh its playback state after it was filled
// from a node, and the transport that external triggers (switchers, GPI
// inputs) press. The playlist window controller implements it; the shell
// gets one per document from the playlist window factory.
//
// Owned by the document controller, one entry per open document; the window
// tells the document controller when it closes. Main thread.

#include <functional>
#include <memory>

namespace nodes {
class VideoPlaylistDocument;
}  // namespace nodes

namespace app {

class DocumentWindowController {
 public:
  virtual ~DocumentWindowController() = default;

  // Shows the window and brings it to the front.
  virtual void showWindow() = 0;
  // Reads the node's current playback state into the window (after the
  // document was filled with the node's playlist).
  virtual void updatePlaybackStatusAfterAwakeFromNib() = 0;
  // The document was read again from its file (Revert to Saved).
  virtual void documentWasReverted() {}

  // The transport, as the window's buttons press it.
  virtual void cueButtonPushed() = 0;
  virtual void playButtonPushed() = 0;
  virtual void pauseButtonPushed() = 0;
  virtual void stopButtonPushed() = 0;
  virtual void skipToPreviousButtonPushed() = 0;
  virtual void skipToNextButtonPushed() = 0;
  // A production switcher took the playout input on or off air.
  virtual void externalMixerTriggeredPlaybackStart() = 0;
  virtual void externalMixerTriggeredPlaybackStop() = 0;
};

// Makes (but does not show) the window controller of a document; nullptr
// when the window cannot be made.
using PlaylistWindowFactory =
    std::function<std::shared_ptr<DocumentWindowController>(const std::shared_ptr<nodes::VideoPlaylistDocument>&)>;

}  // namespace app
