#include "app/views/shell/ApplicationMainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QTimer>

#include "app/shell/ApplicationDelegate.h"
#include "app/views/shell/ApplicationMenus.h"

namespace app::views {

ApplicationMainWindow::ApplicationMainWindow(ApplicationDelegate& delegate, QWidget* parent)
    : QMainWindow(parent), delegate_(delegate) {
  setWindowTitle(QApplication::applicationDisplayName());
  auto* hint = new QLabel(tr("Create a playlist with File > New Playlist, or open one with File > Open Playlist."), this);
  hint->setAlignment(Qt::AlignCenter);
  hint->setMargin(24);
  setCentralWidget(hint);
  ApplicationMenus::populate(*menuBar(), delegate);
}

void ApplicationMainWindow::followOpenDocuments() {
  setVisible(delegate_.documentController().documents().empty());
}

void ApplicationMainWindow::closeEvent(QCloseEvent* event) {
  // Closing the start window quits, once the event is over.
  event->ignore();
  ApplicationDelegate* delegate = &delegate_;
  QTimer::singleShot(0, this, [delegate] { ApplicationMenus::quit(*delegate); });
}

}  // namespace app::views
