#include "app/views/playlist/PlaybackProgressView.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace app::views {
namespace {

// The flat look's colours: a light track, and a blue or red bar that turns
// grey while the window is not the active one.
const QColor kBackground(226, 228, 231);
const QColor kBlueBar(38, 128, 235);
const QColor kBlueInactiveBar(150, 176, 209);
const QColor kRedBar(224, 58, 48);
const QColor kRedInactiveBar(209, 156, 152);
const QColor kCursorLine(255, 149, 0);
const QColor kBorder(204, 204, 204);

bool commandKeyHeld(const QInputEvent& event) { return event.modifiers().testFlag(Qt::ControlModifier); }

}  // namespace

PlaybackProgressView::PlaybackProgressView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  updateColors();
}

void PlaybackProgressView::setColorScheme(int scheme) {
  colorScheme_ = scheme;
  updateColors();
  requestRedisplay();
}

void PlaybackProgressView::setDoubleValue(double value) {
  currentValue_ = std::min(value, 1.0);
  if (currentValue_ == previousValue_) return;
  previousValue_ = currentValue_;
  requestRedisplay();
}

void PlaybackProgressView::setAccurateMode(bool accurate) {
  accurateMode_ = accurate;
  requestRedisplay();
}

void PlaybackProgressView::setBordered(bool bordered) {
  bordered_ = bordered;
  requestRedisplay();
}

double PlaybackProgressView::convertPointToTimeInSeconds(double x) const {
  return width() > 0 ? x * durationInSeconds_ / width() : 0.0;
}

void PlaybackProgressView::updateColors() {
  const bool red = colorScheme_ == kBlockColorScheme;
  barColor_ = red ? kRedBar : kBlueBar;
  deactivatedBarColor_ = red ? kRedInactiveBar : kBlueInactiveBar;
  backgroundColor_ = kBackground;
}

void PlaybackProgressView::requestRedisplay() {
  ++redisplayRequests_;
  update();
}

void PlaybackProgressView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QRect area = rect();
  const int filled = std::clamp(static_cast<int>(std::floor(area.width() * currentValue_)), 0, area.width());
  painter.fillRect(QRect(area.left() + filled, area.top(), area.width() - filled, area.height()), backgroundColor_);
  if (filled > 0) {
    painter.fillRect(QRect(area.left(), area.top(), filled, area.height()),
                     isActiveWindow() ? barColor_ : deactivatedBarColor_);
  }
  if (accurateMode_ && mouseX_ >= 0.0) {
    painter.setPen(QPen(kCursorLine, 1.0));
    painter.drawLine(QPointF(mouseX_ - 1.0, area.bottom()), QPointF(mouseX_ - 1.0, area.top()));
  }
  if (bordered_) {
    painter.setPen(QPen(kBorder, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
  }
}

void PlaybackProgressView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange) {
    updateColors();
    update();
  }
  QWidget::changeEvent(event);
}

void PlaybackProgressView::enterEvent(QEnterEvent* event) {
  if (delegate_ && delegate_->takesMoviePosition() && commandKeyHeld(*event)) update();
  mouseX_ = event->position().x();
}

void PlaybackProgressView::leaveEvent(QEvent*) {
  mouseX_ = -1.0;
  update();
}

void PlaybackProgressView::mouseMoveEvent(QMouseEvent* event) {
  mouseX_ = event->position().x();
  if (event->buttons() != Qt::NoButton) {
    sendMoviePositionToDelegate(*event);
  } else if (accurateMode_) {
    updateScrubTimeInformations();
    update();
  }
}

void PlaybackProgressView::mouseDown(const QMouseEvent& event) {
  if (delegate_) delegate_->mouseDownInProgressView(this, commandKeyHeld(event));
  sendMoviePositionToDelegate(event);
}

void PlaybackProgressView::mousePressEvent(QMouseEvent* event) {
  doubleClickPending_ = false;
  mouseDown(*event);
}

void PlaybackProgressView::mouseDoubleClickEvent(QMouseEvent* event) {
  doubleClickPending_ = true;
  mouseDown(*event);
}

// A double click asks for the scrub view; any other click ends with the
// position and the mouse-up.
void PlaybackProgressView::mouseReleaseEvent(QMouseEvent* event) {
  if (doubleClickPending_) {
    doubleClickPending_ = false;
    if (delegate_) delegate_->showScrubView(this);
    return;
  }
  sendMoviePositionToDelegate(*event);
  if (delegate_) delegate_->mouseUpInProgressView(this, commandKeyHeld(*event));
}

void PlaybackProgressView::sendMoviePositionToDelegate(const QMouseEvent& event) {
  if (!delegate_ || !delegate_->takesMoviePosition() || width() <= 0) return;
  const double x = event.position().x();
  const float fraction = static_cast<float>(std::min(x / width(), 1.0));
  if (commandKeyHeld(event)) {
    delegate_->setMoviePosition(fraction, this);
  } else if (accurateMode_) {
    mouseX_ = x;
    delegate_->setMoviePosition(fraction, this);
  }
}

void PlaybackProgressView::updateScrubTimeInformations() {
  if (!delegate_ || mouseX_ < 0.0) return;
  const double position = convertPointToTimeInSeconds(mouseX_);
  delegate_->updateScrubTimeInformations(position, durationInSeconds_ - position);
}

}  // namespace app::views
