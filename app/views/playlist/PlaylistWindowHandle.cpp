#include "app/views/playlist/PlaylistWindowHandle.h"

#include <QCoreApplication>
#include <QTimer>

#include "app/views/playlist/PlaylistWindow.h"

namespace app::views {

PlaylistWindowHandle::PlaylistWindowHandle(const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                                           PlaylistNodeControl& nodeControl, ClosedHandler closed)
    : controller_(std::make_unique<PlaylistWindowController>(document, nodeControl)),
      observers_(std::make_unique<PlaylistWindowObservers>(*controller_)),
      window_(std::make_unique<PlaylistWindow>(*controller_)) {
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
  return [&nodeControl, closed](const std::shared_ptr<nodes::VideoPlaylistDocument>& document)
             -> std::shared_ptr<DocumentWindowController> {
    if (!document) return nullptr;
    return std::make_shared<PlaylistWindowHandle>(document, nodeControl, closed);
  };
}

}  // namespace app::views
