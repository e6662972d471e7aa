#include "app/views/shell/WindowAppearanceReporter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include "platform/ViewControllerAppearance.h"

namespace app::views {

WindowAppearanceReporter::WindowAppearanceReporter(QObject* parent) : QObject(parent) {
  QCoreApplication::instance()->installEventFilter(this);
}

WindowAppearanceReporter::~WindowAppearanceReporter() {
  if (QCoreApplication* application = QCoreApplication::instance()) application->removeEventFilter(this);
}

bool WindowAppearanceReporter::eventFilter(QObject* watched, QEvent* event) {
  // Spontaneous shows are the window system's (un-minimising), not the application showing a window.
  if (event->type() == QEvent::Show && !event->spontaneous() && watched->isWidgetType()) {
    const auto* widget = static_cast<QWidget*>(watched);
    const Qt::WindowType type = widget->windowType();
    if (widget->isWindow() && (type == Qt::Window || type == Qt::Dialog)) {
      platform::reportViewControllerWillAppear(widget->metaObject()->className());
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace app::views
