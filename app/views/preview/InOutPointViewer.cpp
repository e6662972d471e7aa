#include "app/views/preview/InOutPointViewer.h"

#include <QPainter>
#include <QPainterPath>

namespace app::views {
namespace {

constexpr int kMarkerWidth = 7;

// A flag at x pointing into the kept part: right for the in point, left for the out point.
void drawMarker(QPainter& painter, double x, int height, bool pointsRight) {
  QPainterPath flag;
  const double tip = pointsRight ? x + kMarkerWidth : x - kMarkerWidth;
  flag.moveTo(x, 0);
  flag.lineTo(tip, height / 2.0);
  flag.lineTo(x, height);
  flag.closeSubpath();
  painter.fillPath(flag, QColor(255, 200, 0));
}

}  // namespace

InOutPointViewer::InOutPointViewer(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::ClickFocus);
  setMinimumHeight(10);
}

void InOutPointViewer::setInPointValue(double seconds) {
  inPointValue_ = seconds;
  update();
}

void InOutPointViewer::setOutPointValue(double seconds) {
  outPointValue_ = seconds;
  update();
}

void InOutPointViewer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRectF area = rect();
  const double width = area.width();
  painter.fillRect(area, QColor::fromRgbF(0.5, 0.5, 0.5, 0.4));
  const QColor kept = QColor::fromRgbF(0.5, 0.5, 0.5, 0.8);
  if (inPointValue_ <= 0 && outPointValue_ <= 0) painter.fillRect(area, kept);
  if (durationValue_ > 0) {
    const double in = inPointValue_ / durationValue_ * width;
    const double out = outPointValue_ / durationValue_ * width;
    if (inPointValue_ > 0 && outPointValue_ > 0) {
      painter.fillRect(QRectF(in, area.y(), out - in, area.height()), kept);
    } else if (inPointValue_ > 0) {
      painter.fillRect(QRectF(in, area.y(), width - in, area.height()), kept);
    } else if (outPointValue_ > 0) {
      painter.fillRect(QRectF(0, area.y(), out, area.height()), kept);
    }
    if (inPointValue_ > 0) drawMarker(painter, in, height(), true);
    if (outPointValue_ > 0) drawMarker(painter, out, height(), false);
  }
  painter.setPen(QColor::fromRgbF(0.2, 0.2, 0.2, 1.0));
  painter.drawRect(area.adjusted(0, 0, -1, -1));
}

}  // namespace app::views
