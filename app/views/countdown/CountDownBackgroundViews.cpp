#include "app/views/countdown/CountDownBackgroundViews.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

namespace app::views {

FullScreenView::FullScreenView(QWidget* parent) : QWidget(parent) {}

void FullScreenView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  QColor black(Qt::black);
  black.setAlphaF(kFullScreenViewAlpha);
  painter.fillRect(event->rect(), black);
}

NavigationContentView::NavigationContentView(QWidget* parent) : QWidget(parent) {}

void NavigationContentView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Button));
  painter.setPen(QPen(palette().color(QPalette::Highlight), 1.0));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

NSKeyView::NSKeyView(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }

void NSKeyView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  QWidget::mousePressEvent(event);
}

}  // namespace app::views
