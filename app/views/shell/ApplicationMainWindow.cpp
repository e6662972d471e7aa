#include "app/views/shell/ApplicationMainWindow.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>

#include "app/views/shell/ApplicationMenus.h"

namespace app::views {

ApplicationMainWindow::ApplicationMainWindow(ApplicationDelegate& delegate, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QApplication::applicationDisplayName());
  auto* hint = new QLabel(tr("Create a playlist with File > New Playlist, or open one with File > Open Playlist."), this);
  hint->setAlignment(Qt::AlignCenter);
  hint->setMargin(24);
  setCentralWidget(hint);
  ApplicationMenus::populate(*menuBar(), delegate);
}

}  // namespace app::views
