#pragma once
// CountDownView: what a countdown window's controller asks of its window.
// The Qt window implements it; tests record the calls.
//
// Not owned by the controller; the window outlives its tie to it. Main thread.

#include <optional>
#include <string>
#include <vector>

#include "app/countdown/CountDownCounter.h"
#include "app/shell/CountDownWindowRecord.h"

namespace app::countdown {

// One item of the node pop-up: "<none>" (no node), a separator, then a node.
struct NodeListItem {
  std::string title;
  std::optional<std::string> nodeUniqueID;
  bool isSeparator = false;
  friend bool operator==(const NodeListItem&, const NodeListItem&) = default;
};

inline constexpr const char* kEnterFullScreenImage = "enterFullScreen.tiff";
inline constexpr const char* kExitFullScreenImage = "exitFullScreen.tiff";
// How far the top view moves on entering (down) and leaving (up) full screen.
inline constexpr int kTopViewFullScreenShift = 30;

class CountDownView {
 public:
  virtual ~CountDownView() = default;

  virtual void setTimeCount(const TimeCountDisplay& display) = 0;
  virtual void setClipNames(const std::string& current, const std::string& next) = 0;
  virtual void setNodeList(const std::vector<NodeListItem>& items, std::size_t selected) = 0;
  virtual void selectTimeCountType(std::int32_t type) = 0;
  // The window's frame, top-left corner on the desktop.
  virtual WindowFrame frame() const = 0;
  // Moves the window to `frame`, onto the primary screen when no screen shows it.
  virtual void setFrame(const WindowFrame& frame) = 0;
  // Full screen on the window's screen, the top view moved by
  // kTopViewFullScreenShift and the button showing `buttonImage`.
  virtual void setFullScreen(bool fullScreen, const std::string& buttonImage) = 0;
  // The counter's font size must be worked out again (timeCountSize).
  virtual void timeCountSizeDidChange() = 0;
  virtual void show() = 0;
};

}  // namespace app::countdown
