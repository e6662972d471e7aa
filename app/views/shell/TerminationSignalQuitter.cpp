#include "app/views/shell/TerminationSignalQuitter.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "foundation/CVNLogController.h"
#include "platform/Diagnostics.h"

namespace app::views {
namespace {

// The write end for the handler; -1 while no quitter is installed.
std::atomic<int> gSignalWriteEnd{-1};
std::atomic<bool> gQuitRequested{false};

void onTerminationSignal(int signalNumber) {
  const int savedErrno = errno;
  const int fd = gSignalWriteEnd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] ssize_t written = ::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

TerminationSignalQuitter::TerminationSignalQuitter(QObject* parent) : QObject(parent) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               std::string("TerminationSignalQuitter: no socket pair: ") + std::strerror(errno));
    return;
  }
  writeEnd_.emplace(ends[0]);
  readEnd_.emplace(ends[1]);
  notifier_ = new QSocketNotifier(readEnd_->get(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignalQuitter::signalReceived);
  gSignalWriteEnd.store(writeEnd_->get());

  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  // The first signal asks for a quit; the next one takes the default action.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  installed_ = ::sigaction(SIGINT, &action, &previousInterrupt_) == 0 &&
               ::sigaction(SIGTERM, &action, &previousTerminate_) == 0;
}

TerminationSignalQuitter::~TerminationSignalQuitter() {
  if (installed_) {
    ::sigaction(SIGINT, &previousInterrupt_, nullptr);
    ::sigaction(SIGTERM, &previousTerminate_, nullptr);
  }
  gSignalWriteEnd.store(-1);
}

void TerminationSignalQuitter::signalReceived() {
  unsigned char byte = 0;
  while (::read(readEnd_->get(), &byte, 1) == 1) {
  }
  foundation::CVNLogController& log = foundation::CVNLogController::sharedLogController();
  log.logMessageWithLevel(2, false, "Quitting on signal %d", static_cast<int>(byte));
  if (quitGuard_ && !quitGuard_()) {
    log.logMessageWithLevel(1, false,
                            "Quit on signal %d cancelled: an edited document stays open. A second signal ends the "
                            "application without saving it.",
                            static_cast<int>(byte));
    return;
  }
  gQuitRequested.store(true);
  // exit(), not quit(): quit() first asks the windows to close, and a modal
  // alert without an escape button refuses; exit() leaves every event loop.
  QCoreApplication::exit(0);
}

bool TerminationSignalQuitter::quitRequested() { return gQuitRequested.load(); }

}  // namespace app::views
