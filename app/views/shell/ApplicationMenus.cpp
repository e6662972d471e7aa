#include "app/views/shell/ApplicationMenus.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include "app/shell/ApplicationDelegate.h"
#include "app/shell/PlaylistDocumentController.h"

namespace app::views {
namespace {

template <typename Slot>
QAction* addAction(QMenu& menu, const QString& title, const char* objectName, Slot slot,
                   const QKeySequence& shortcut = {}, QAction::MenuRole role = QAction::NoRole) {
  QAction* action = menu.addAction(title);
  if (objectName) action->setObjectName(objectName);
  action->setShortcut(shortcut);
  action->setMenuRole(role);
  QObject::connect(action, &QAction::triggered, action, slot);
  return action;
}

void rebuildPlaylistFromNodeMenu(QMenu& menu, ApplicationDelegate& delegate) {
  menu.clear();
  for (const PlaylistFromNodeMenuItem& item : delegate.generateNodeNamesMenuItems()) {
    QAction* action = menu.addAction(QString::fromStdString(item.title));
    if (!item.nodeUniqueID) {
      action->setEnabled(false);  // an item without an action
      continue;
    }
    const std::string nodeUniqueID = *item.nodeUniqueID;
    QObject::connect(action, &QAction::triggered, action,
                     [&delegate, nodeUniqueID] { delegate.grabPlaylistFromSelectedNode(nodeUniqueID); });
  }
}

}  // namespace

QString ApplicationMenus::playlistFileFilter() {
  return QObject::tr("Playlists (*.%1);;All files (*)").arg(QString::fromUtf8(kPlaylistDocumentFileExtension));
}

void ApplicationMenus::populate(QMenuBar& menuBar, ApplicationDelegate& delegate) {
  ApplicationDelegate* target = &delegate;
  const QString name = QApplication::applicationDisplayName();

  QMenu* file = menuBar.addMenu(QObject::tr("&File"));
  addAction(*file, QObject::tr("New Playlist"), kNewPlaylistActionName, [target] { target->newDocument(); },
            QKeySequence::New);
  QMenuBar* bar = &menuBar;
  addAction(
      *file, QObject::tr("Open Playlist..."), kOpenPlaylistActionName,
      [target, bar] {
        const QString path = QFileDialog::getOpenFileName(bar->window(), QObject::tr("Open Playlist"), QString(),
                                                          playlistFileFilter());
        if (!path.isEmpty()) target->openDocument(path.toStdString());
      },
      QKeySequence::Open);
  QMenu* fromNode = file->addMenu(QObject::tr("Playlist from Node"));
  fromNode->setObjectName(kPlaylistFromNodeMenuName);
  QObject::connect(fromNode, &QMenu::aboutToShow, fromNode,
                   [fromNode, target] { rebuildPlaylistFromNodeMenu(*fromNode, *target); });
  file->addSeparator();
  addAction(*file, QObject::tr("Reset Media Database..."), nullptr, [target] { target->resetMediaDatabase(); });
  file->addSeparator();
  addAction(*file, QObject::tr("Preferences..."), kPreferencesActionName, [target] { target->showPreferences(); },
            QKeySequence::Preferences, QAction::PreferencesRole);
  addAction(*file, QObject::tr("Quit %1").arg(name), kQuitActionName, [] { QCoreApplication::quit(); },
            QKeySequence::Quit, QAction::QuitRole);

  QMenu* window = menuBar.addMenu(QObject::tr("&Window"));
  addAction(*window, QObject::tr("Media Browser"), nullptr, [target] { target->showMediaBrowser(); });
  addAction(*window, QObject::tr("Clip Inspector"), nullptr, [target] { target->showClipInspector(); });
  addAction(*window, QObject::tr("New Countdown Window"), nullptr, [target] { target->newCountDownWindow(); });

  QMenu* help = menuBar.addMenu(QObject::tr("&Help"));
  addAction(*help, QObject::tr("Search Knowledge Base"), nullptr, [target] { target->searchKnowledgeBase(); });
  addAction(*help, QObject::tr("Contact Support..."), nullptr, [target] { target->contactSupport(); });
  help->addSeparator();
  addAction(*help, QObject::tr("About %1").arg(name), kAboutActionName,
            [target] { target->orderFrontStandardAboutPanel(); }, {}, QAction::AboutRole);
}

}  // namespace app::views
