#pragma once
// TerminationSignalQuitter: turns SIGINT and SIGTERM into an orderly quit of
// the Qt application, so that a run stopped by its supervisor (or by Ctrl-C)
// goes through the termination steps, closes its windows and flushes the
// technical log. A second signal, once the first is being handled, ends the
// process at once (the default action).
//
// The signal handler only writes one byte to a socket pair; the Qt thread
// reads it and leaves every event loop, a modal alert's included, and no
// alert is shown after that (quitRequested()). Start-up runs inside the event
// loop, so a signal that arrives during a start-up alert still quits. One per process, owned by main() on the GUI thread;
// destruction puts the previous handlers back.

#include <csignal>
#include <optional>

#include <QObject>

#include "platform/FileDescriptor.h"

class QSocketNotifier;

namespace app::views {

class TerminationSignalQuitter final : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignalQuitter(QObject* parent = nullptr);
  ~TerminationSignalQuitter() override;
  // A termination signal has asked the application to quit (GUI thread).
  static bool quitRequested();
  TerminationSignalQuitter(const TerminationSignalQuitter&) = delete;
  TerminationSignalQuitter& operator=(const TerminationSignalQuitter&) = delete;

 private:
  void signalReceived();

  std::optional<platform::FileDescriptor> writeEnd_;
  std::optional<platform::FileDescriptor> readEnd_;
  QSocketNotifier* notifier_ = nullptr;  // child of this object
  struct sigaction previousInterrupt_ {};
  struct sigaction previousTerminate_ {};
  bool installed_ = false;
};

}  // namespace app::views
