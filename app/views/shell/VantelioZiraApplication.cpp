#include "app/views/shell/VantelioZiraApplication.h"

#include <QMetaObject>

#include "app/shell/ApplicationDelegate.h"
#include "app/shell/EventExceptionGuard.h"

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
  // exit(), not quit(), which would first ask the windows to close (see
  // ApplicationMenus::quit).
  QMetaObject::invokeMethod(this, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void VantelioZiraApplication::finishLaunching() {
  if (!contactSupportWindowController_)
    contactSupportWindowController_ =
        std::make_unique<ContactSupportWindowHandle>(applicationInformationForSupport(), *this,
                                                     ApplicationDelegate::current());
}

void VantelioZiraApplication::contactSupport() {
  if (contactSupportWindowController_) contactSupportWindowController_->showWindow();
}

bool VantelioZiraApplication::notify(QObject* receiver, QEvent* event) {
  return deliverForwardingExceptions([&] { return QApplication::notify(receiver, event); }, *this);
}

bool VantelioZiraApplication::hasModalWindow() const { return QApplication::activeModalWidget() != nullptr; }

}  // namespace app::views
