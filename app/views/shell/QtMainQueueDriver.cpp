#include "app/views/shell/QtMainQueueDriver.h"

#include <algorithm>
#include <chrono>

#include <QMetaObject>

#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/RunLoop.h"

namespace app::views {
namespace {

constexpr std::chrono::milliseconds kLongestTimerInterval = std::chrono::hours(1);

}  // namespace

QtMainQueueDriver::QtMainQueueDriver(QObject* parent) : QObject(parent) {
  deadlineTimer_.setSingleShot(true);
  deadlineTimer_.setTimerType(Qt::PreciseTimer);
  connect(&deadlineTimer_, &QTimer::timeout, this, &QtMainQueueDriver::drain);
  if (!platform::RunLoop::main().attachCurrentThread()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               "QtMainQueueDriver: another thread drives the main run loop");
  }
  // Installing the handler calls it once, which picks up work queued before.
  platform::RunLoop::main().setWakeUpHandler([this] { scheduleDrain(); });
}

QtMainQueueDriver::~QtMainQueueDriver() {
  platform::RunLoop::main().setWakeUpHandler({});
  deadlineTimer_.stop();
}

void QtMainQueueDriver::scheduleDrain() {
  QMetaObject::invokeMethod(this, [this] { drain(); }, Qt::QueuedConnection);
}

void QtMainQueueDriver::drain() {
  platform::RunLoop::main().drainReadyTasks();
  armDeadlineTimer();
}

void QtMainQueueDriver::armDeadlineTimer() {
  const std::optional<platform::Clock::TimePoint> deadline = platform::RunLoop::main().nextDeadline();
  if (!deadline) {
    deadlineTimer_.stop();
    return;
  }
  const platform::Clock::Duration remaining = *deadline - platform::Clock::current().now();
  if (remaining <= platform::Clock::Duration::zero()) {
    deadlineTimer_.stop();
    scheduleDrain();
    return;
  }
  // Rounded up, so the timer never fires just before the task is due; capped
  // so that a far deadline stays within the timer's range (it re-arms).
  const auto milliseconds = std::min(std::chrono::ceil<std::chrono::milliseconds>(remaining), kLongestTimerInterval);
  deadlineTimer_.start(milliseconds);
}

}  // namespace app::views
