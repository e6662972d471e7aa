#pragma once
// CountDownWindow: a countdown window from "CountDownWindow.ui": the node and
// counter-type pop-ups with the full-screen button over the counter in large
// type between the current and the next clip's names. It draws what its
// Qt-free controller says and forwards what the operator does; full screen
// is showFullScreen() on the window's screen. Moves and resizes reach the
// controller once they settle, so the saved record follows them.
//
// Owned by its handle with the controller, which outlives it. GUI thread.

#include <chrono>
#include <memory>
#include <optional>

#include <QWidget>

#include "app/countdown/CountDownView.h"
#include "app/countdown/CountDownWindowController.h"
#include "platform/Timer.h"

class QMenuBar;

namespace Ui {
class CountDownWindow;
}  // namespace Ui

namespace app::views {

// How long a move or resize must rest before the window's record is written
// (a drag moves the window many times a second).
inline constexpr std::chrono::milliseconds kFrameSettleDelay{250};

class CountDownWindow final : public QWidget, public countdown::CountDownView {
  Q_OBJECT

 public:
  explicit CountDownWindow(countdown::CountDownWindowController& controller);
  ~CountDownWindow() override;

  QMenuBar* menuBar() const { return menuBar_; }
  // The counter's font size as it was last worked out.
  int timeCountSize() const { return timeCountSize_; }

  // ---- CountDownView ----
  void setTimeCount(const countdown::TimeCountDisplay& display) override;
  void setClipNames(const std::string& current, const std::string& next) override;
  void setNodeList(const std::vector<countdown::NodeListItem>& items, std::size_t selected) override;
  void selectTimeCountType(std::int32_t type) override;
  WindowFrame frame() const override;
  void setFrame(const WindowFrame& frame) override;
  void setFullScreen(bool fullScreen, const std::string& buttonImage) override;
  void timeCountSizeDidChange() override;
  void show() override;

 protected:
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // The counter's font follows its field's size.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void frameChanged(bool resized);

  countdown::CountDownWindowController& controller_;  // not owned; outlives the window
  std::unique_ptr<Ui::CountDownWindow> ui_;
  QMenuBar* menuBar_ = nullptr;  // child
  std::unique_ptr<platform::Timer> frameSettle_;
  std::optional<WindowFrame> normalFrame_;  // while in full screen: the frame it goes back to  // main queue, on platform::Clock
  bool frameResized_ = false;
  int timeCountSize_ = countdown::kSmallestTimeCountSize;
};

}  // namespace app::views
