#include "app/views/playlist/PlaylistWindowHandle.h"

#include <QCoreApplication>
#include <QTimer>

#include "app/views/playlist/PlaylistWindow.h"

namespace app::views {

PlaylistWindowHandle::PlaylistWindowHandle(const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                                           PlaylistNodeControl& nodeControl, ClosedHandler closed)
    : PlaylistWindowHandle(document, nodeControl, PlaylistWindowHooks{std::move(closed), {}, {}}) {}

PlaylistWindowHandle::PlaylistWindowHandle(const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                                           PlaylistNodeControl& nodeControl, const PlaylistWindowHooks& hooks)
    : controller_(std::make_unique<PlaylistWindowController>(document, nodeControl)),
      observers_(std::make_unique<PlaylistWindowObservers>(*controller_)),
      window_(std::make_unique<PlaylistWindow>(*controller_)) {
  const ClosedHandler& closed = hooks.closed;
  if (hooks.shouldClose) {
    std::weak_ptr<nodes::VideoPlaylistDocument> weakDocument = document;
    window_->setCloseGuard([weakDocument, shouldClose = hooks.shouldClose] {
      const auto document = weakDocument.lock();
      return !document || shouldClose(document);
    });
  }
  if (hooks.decorate) hooks.decorate(*window_, document);
  if (closed) {
    // Queued: the handler may drop this handle, which must not happen inside
    // the window's own close event.
    std::weak_ptr<nodes::VideoPlaylistDocument> weakDocument = document;
    QObject::connect(window_.get(), &PlaylistWindow::windowClosed, window_.get(), [weakDocument, closed] {
      QTimer::singleShot(0, [weakDocument, closed] {
        if (const auto document = weakDocument.lock()) closed(*document);
      });
    });
  }
  controller_->windowDidLoad();
}

PlaylistWindowHandle::~PlaylistWindowHandle() {
  window_->detachController();
  window_->hide();
  if (QCoreApplication::instance()) {
    window_.release()->deleteLater();
  } else {
    window_.reset();
  }
  observers_.reset();
  controller_.reset();
}

void PlaylistWindowHandle::showWindow() {
  window_->show();
  window_->raise();
  window_->activateWindow();
}

PlaylistWindowFactory makePlaylistWindowFactory(PlaylistNodeControl& nodeControl,
                                                PlaylistWindowHandle::ClosedHandler closed) {
  return makePlaylistWindowFactory(nodeControl, PlaylistWindowHooks{std::move(closed), {}, {}});
}

PlaylistWindowFactory makePlaylistWindowFactory(PlaylistNodeControl& nodeControl, PlaylistWindowHooks hooks) {
  return [&nodeControl, hooks](const std::shared_ptr<nodes::VideoPlaylistDocument>& document)
             -> std::shared_ptr<DocumentWindowController> {
    if (!document) return nullptr;
    return std::make_shared<PlaylistWindowHandle>(document, nodeControl, hooks);
  };
}

}  // namespace app::views
