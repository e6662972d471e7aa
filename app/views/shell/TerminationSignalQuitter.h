#pragma once
// TerminationSignalQuitter: turns SIGINT and SIGTERM into an orderly quit of
// the Qt application, so that a run stopped by its supervisor (or by Ctrl-C)
// goes through the termination steps, closes its windows and flushes the
// technical log.
//
// The signal handler only writes one byte to a socket pair; the Qt thread
// reads it and asks the quit guard first, as File > Quit does: the guard
// asks about each edited document and may refuse (the operator cancelled, or
// no question can be shown), and then the application goes on running. A
// second signal, once the first has arrived, ends the process at once (the
// default action), so a supervisor can always stop it. When the guard agrees,
// the quitter leaves every event loop, a modal alert's included, and no
// alert is shown after that (quitRequested()). Start-up runs inside the event
// loop, so a signal that arrives during a start-up alert still quits.
//
// One per process, owned by main() on the GUI thread; destruction puts the
// previous handlers back.

#include <csignal>
#include <functional>
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
  // A termination signal has asked the application to quit, and the guard
  // agreed (GUI thread).
  static bool quitRequested();
  // Asked when a signal arrives; false keeps the application running. None:
  // quit at once. Cleared before what it uses goes.
  void setQuitGuard(std::function<bool()> guard) { quitGuard_ = std::move(guard); }
  TerminationSignalQuitter(const TerminationSignalQuitter&) = delete;
  TerminationSignalQuitter& operator=(const TerminationSignalQuitter&) = delete;

 private:
  void signalReceived();

  std::function<bool()> quitGuard_;
  std::optional<platform::FileDescriptor> writeEnd_;
  std::optional<platform::FileDescriptor> readEnd_;
  QSocketNotifier* notifier_ = nullptr;  // child of this object
  struct sigaction previousInterrupt_ {};
  struct sigaction previousTerminate_ {};
  bool installed_ = false;
};

}  // namespace app::views
