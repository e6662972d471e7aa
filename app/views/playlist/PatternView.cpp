#include "app/views/playlist/PatternView.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>

namespace app::views {
namespace {

constexpr double kFlatGrey = 0.96;
constexpr int kBorderWidth = 3;

}  // namespace

PatternView::PatternView(QWidget* parent, bool flatLook) : QWidget(parent), flatLook_(flatLook) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PatternView::setPaternImage(const QImage& image) {
  pattern_ = image;
  update();
}

void PatternView::setDrawGradientBorder(bool draw) {
  drawGradientBorder_ = draw;
  update();
}

void PatternView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (flatLook_ || pattern_.isNull()) {
    painter.fillRect(event->rect(), QColor::fromRgbF(kFlatGrey, kFlatGrey, kFlatGrey));
    return;
  }
  // The pattern is anchored at the bottom-left corner, as the view grows upwards.
  painter.setBrushOrigin(0, height() % pattern_.height());
  painter.fillRect(rect(), QBrush(pattern_));
  if (!drawGradientBorder_) return;
  const auto strip = [&](const QRect& area, QPointF from, QPointF to) {
    QLinearGradient gradient(from, to);
    gradient.setColorAt(0.0, QColor::fromRgbF(1.0, 1.0, 1.0, 0.5));
    gradient.setColorAt(1.0, Qt::transparent);
    painter.fillRect(area, gradient);
  };
  const int w = width();
  const int h = height();
  strip(QRect(0, 0, kBorderWidth, h), {0, 0}, {kBorderWidth, 0});
  strip(QRect(w - kBorderWidth, 0, kBorderWidth, h), {double(w), 0}, {double(w - kBorderWidth), 0});
  strip(QRect(0, h - kBorderWidth, w, kBorderWidth), {0, double(h)}, {0, double(h - kBorderWidth)});
  strip(QRect(0, 0, w, kBorderWidth), {0, 0}, {0, kBorderWidth});
}

}  // namespace app::views
