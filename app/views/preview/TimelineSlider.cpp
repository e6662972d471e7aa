#include "app/views/preview/TimelineSlider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>
#include <limits>

namespace app::views {

namespace {

// Slider steps are milliseconds.
constexpr double kStepsPerSecond = 1000.0;

}  // namespace

TimelineSlider::TimelineSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  setRange(0, 0);
  setFocusPolicy(Qt::NoFocus);
}

void TimelineSlider::setHandlers(Handler started, Handler moved, Handler stopped) {
  started_ = std::move(started);
  moved_ = std::move(moved);
  stopped_ = std::move(stopped);
}

void TimelineSlider::setMaximumSeconds(double seconds) {
  const double steps = std::isfinite(seconds) && seconds > 0.0 ? seconds * kStepsPerSecond : 0.0;
  setMaximum(static_cast<int>(std::min(steps, static_cast<double>(std::numeric_limits<int>::max()))));
}

void TimelineSlider::setSeconds(double seconds) {
  if (std::isfinite(seconds)) setValue(static_cast<int>(std::lround(seconds * kStepsPerSecond)));
}

double TimelineSlider::seconds() const { return value() / kStepsPerSecond; }

void TimelineSlider::moveTo(const QMouseEvent& event) {
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
  const int x = static_cast<int>(event.position().x()) - handle.width() / 2;
  setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), x, width() - handle.width()));
}

void TimelineSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QSlider::mousePressEvent(event);
  setSliderDown(true);
  moveTo(*event);
  if (started_) started_(seconds());
}

void TimelineSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!isSliderDown()) return;
  moveTo(*event);
  if (moved_) moved_(seconds());
}

void TimelineSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (!isSliderDown()) return;
  moveTo(*event);
  setSliderDown(false);
  if (stopped_) stopped_(seconds());
}

void TimelineSlider::keyPressEvent(QKeyEvent* event) { event->ignore(); }

}  // namespace app::views
