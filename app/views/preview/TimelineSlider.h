#pragma once
// TimelineSlider: the preview's position slider in seconds. A press anywhere
// on it jumps there and reports the start of a scrub, dragging reports each
// move, the release reports the end (where the preview seeks precisely).
// Keys are left to the pane. Owned by its parent widget. GUI thread.

#include <QSlider>

#include <functional>

namespace app::views {

class TimelineSlider final : public QSlider {
  Q_OBJECT

 public:
  using Handler = std::function<void(double seconds)>;
  explicit TimelineSlider(QWidget* parent = nullptr);

  void setHandlers(Handler started, Handler moved, Handler stopped);
  void setMaximumSeconds(double seconds);
  void setSeconds(double seconds);
  double seconds() const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void moveTo(const QMouseEvent& event);

  Handler started_;
  Handler moved_;
  Handler stopped_;
};

}  // namespace app::views
