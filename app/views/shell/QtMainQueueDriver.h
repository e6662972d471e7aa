#pragma once
// QtMainQueueDriver: runs the platform main queue (RunLoop::main()) on the Qt
// event loop, so that work posted to the main queue from any thread, node
// notifications included, runs on the Qt GUI thread between Qt's own events.
//
// It declares the Qt thread the main thread, installs the run loop's wake-up
// handler (which posts a queued drain to this object) and keeps one
// single-shot timer armed for the earliest delayed task. With a manual clock,
// an advance past a deadline wakes the loop through the same handler.
//
// Owned by main() (or a test), created and destroyed on the Qt GUI thread
// after the QApplication exists and before it goes. Destruction removes the
// handler (waiting for a call in progress) and drops the drains still queued.

#include <QObject>
#include <QTimer>

namespace app::views {

class QtMainQueueDriver final : public QObject {
  Q_OBJECT

 public:
  explicit QtMainQueueDriver(QObject* parent = nullptr);
  ~QtMainQueueDriver() override;
  QtMainQueueDriver(const QtMainQueueDriver&) = delete;
  QtMainQueueDriver& operator=(const QtMainQueueDriver&) = delete;

  // The timer for the next delayed task is running.
  bool isDeadlineTimerActive() const { return deadlineTimer_.isActive(); }

 private:
  // Any thread: asks the Qt thread for a drain.
  void scheduleDrain();
  // Qt thread: runs the ready tasks, then re-arms the deadline timer.
  void drain();
  void armDeadlineTimer();

  QTimer deadlineTimer_;
};

}  // namespace app::views
