#include "app/views/shell/ApplicationActivityNotifier.h"

#include <QGuiApplication>

#include "platform/ApplicationActivity.h"
#include "platform/NotificationCenter.h"
#include "telemetry/core/DRTLUtility.h"

namespace app::views {

ApplicationActivityNotifier::ApplicationActivityNotifier(QObject* parent)
    : QObject(parent), state_(QGuiApplication::applicationState()) {
  connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
          &ApplicationActivityNotifier::applicationStateChanged);
  telemetry::core::DRTLUtility::setApplicationHiddenProvider(
      [this] { return state_ == Qt::ApplicationHidden || state_ == Qt::ApplicationSuspended; });
}

ApplicationActivityNotifier::~ApplicationActivityNotifier() {
  telemetry::core::DRTLUtility::setApplicationHiddenProvider(nullptr);
}

void ApplicationActivityNotifier::applicationStateChanged(Qt::ApplicationState state) {
  const bool wasActive = state_ == Qt::ApplicationActive;
  state_ = state;
  const bool isActive = state == Qt::ApplicationActive;
  if (wasActive == isActive) return;
  platform::NotificationCenter::defaultCenter().post(
      isActive ? platform::kApplicationWillBecomeActiveNotification : platform::kApplicationDidResignActiveNotification);
}

}  // namespace app::views
