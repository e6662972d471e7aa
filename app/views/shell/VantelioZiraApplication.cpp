#include "app/views/shell/VantelioZiraApplication.h"

#include <QMetaObject>

namespace app::views {

VantelioZiraApplication::VantelioZiraApplication(int& argc, char** argv) : QApplication(argc, argv) {
  const auto bundle = applicationMainBundle();
  if (!bundle->name().empty()) setApplicationDisplayName(QString::fromStdString(bundle->name()));
  if (!bundle->shortVersionString().empty()) setApplicationVersion(QString::fromStdString(bundle->shortVersionString()));
}

std::shared_ptr<const platform::Bundle> VantelioZiraApplication::applicationMainBundle() const {
  return CorvaneApplication::applicationMainBundle();
}

void VantelioZiraApplication::terminate() {
  // Queued: the caller (often a menu action or an alert) finishes first.
  QMetaObject::invokeMethod(this, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

bool VantelioZiraApplication::hasModalWindow() const { return QApplication::activeModalWidget() != nullptr; }

}  // namespace app::views
