#pragma once
// PlaybackProgressView: a flat progress bar for the playlist window (the clip
// on air, scheme 1, blue; the block on air, scheme 2, red) that also lets the
// operator pick a position with the mouse. Positions go to the delegate only
// with the command (control) key held, or in accurate mode, which follows the
// mouse with a cursor line.
//
// A Qt widget owned by its parent window; the delegate is not owned and
// clears itself before it goes. Main (GUI) thread.
//
// setDoubleValue() stores the value capped at 1.0 (there is no lower cap) and
// asks for a redraw only when it differs from the value last asked for.

#include <QColor>
#include <QWidget>

#include "app/playlist/PlaybackProgressViewDelegate.h"

namespace app::views {

class PlaybackProgressView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kClipColorScheme = 1;
  static constexpr int kBlockColorScheme = 2;  // red; every other scheme is blue

  explicit PlaybackProgressView(QWidget* parent = nullptr);

  int colorScheme() const { return colorScheme_; }
  void setColorScheme(int scheme);
  double doubleValue() const { return currentValue_; }
  void setDoubleValue(double value);

  PlaybackProgressViewDelegate* delegate() const { return delegate_; }
  void setDelegate(PlaybackProgressViewDelegate* delegate) { delegate_ = delegate; }  // not owned

  bool accurateMode() const { return accurateMode_; }
  void setAccurateMode(bool accurate);
  double durationInSeconds() const { return durationInSeconds_; }
  void setDurationInSeconds(double seconds) { durationInSeconds_ = seconds; }
  bool bordered() const { return bordered_; }
  void setBordered(bool bordered);
  QColor barColor() const { return barColor_; }
  QColor deactivatedBarColor() const { return deactivatedBarColor_; }
  QColor backgroundColor() const { return backgroundColor_; }

  // x × duration ÷ width.
  double convertPointToTimeInSeconds(double x) const;

  // Redraws asked for since creation.
  int redisplayRequestCountForTesting() const { return redisplayRequests_; }

  QSize sizeHint() const override { return {200, 8}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void updateColors();
  void requestRedisplay();
  void sendMoviePositionToDelegate(const QMouseEvent& event);
  void mouseDown(const QMouseEvent& event);
  void updateScrubTimeInformations();

  PlaybackProgressViewDelegate* delegate_ = nullptr;  // not owned; clears itself
  int colorScheme_ = 0;
  double currentValue_ = 0.0;
  double previousValue_ = 0.0;
  QColor barColor_;
  QColor deactivatedBarColor_;
  QColor backgroundColor_;
  bool accurateMode_ = false;
  double mouseX_ = -1.0;  // -1 while the mouse is outside
  double durationInSeconds_ = 0.0;
  bool bordered_ = false;
  bool doubleClickPending_ = false;
  int redisplayRequests_ = 0;
};

}  // namespace app::views
