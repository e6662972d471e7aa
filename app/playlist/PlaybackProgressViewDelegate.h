#pragma once
// PlaybackProgressViewDelegate: what a playback progress bar tells the object
// that follows it (the playlist window controller, for scrubbing): mouse down
// and up in the bar, positions picked with the mouse, a request for the scrub
// view, and the time under the mouse. Every operation is optional; positions
// are sent only to a delegate that takes them (takesMoviePosition).
//
// The bar holds its delegate as a plain pointer, not owned; the delegate
// clears itself (setDelegate(nullptr)) before it goes. Main thread. `sender`
// identifies the bar; it is never dereferenced by the delegate's contract.

namespace app {

class PlaybackProgressViewDelegate {
 public:
  virtual ~PlaybackProgressViewDelegate() = default;

  virtual bool takesMoviePosition() const { return false; }
  // The fraction of the bar under the mouse, 0 to 1.
  virtual void setMoviePosition(float /*fraction*/, const void* /*sender*/) {}
  // `commandKeyHeld`: the command (control) key was down with the button.
  virtual void mouseDownInProgressView(const void* /*sender*/, bool /*commandKeyHeld*/) {}
  virtual void mouseUpInProgressView(const void* /*sender*/, bool /*commandKeyHeld*/) {}
  virtual void showScrubView(const void* /*sender*/) {}
  virtual void updateScrubTimeInformations(double /*positionInSeconds*/, double /*remainingInSeconds*/) {}
};

}  // namespace app
