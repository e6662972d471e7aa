#include "app/views/playlist/CountersBackgroundView.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace app::views {
namespace {

constexpr double kCornerRadius = 6.0;

QColor calibrated(double r, double g, double b, double a = 1.0) { return QColor::fromRgbF(r, g, b, a); }

}  // namespace

void CountersBackgroundView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, true);
  const QRectF box(0.5, 0.5, width() - 2.0, height() - 2.0);
  QLinearGradient gradient(box.topLeft(), box.bottomLeft());
  gradient.setColorAt(0.0, calibrated(0.9450980424880981, 0.9490196108818054, 0.95686274766922));
  gradient.setColorAt(1.0, calibrated(0.9254902005195618, 0.929411768913269, 0.9411764740943909));
  QPainterPath path;
  path.addRoundedRect(box, kCornerRadius, kCornerRadius);
  painter.fillPath(path, gradient);
  painter.setPen(QPen(calibrated(0.9, 0.9, 0.9), 1.0));
  painter.drawPath(path);
}

}  // namespace app::views
