#include "app/views/shell/ApplicationMenus.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QWidget>

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

void markNotAvailable(QAction* action, bool available) {
  if (available) return;
  action->setEnabled(false);
  action->setToolTip(QObject::tr(kNotAvailableToolTip));
}

QMenu* addMenu(QMenuBar& bar, const QString& title) {
  QMenu* menu = bar.addMenu(title);
  menu->setToolTipsVisible(true);
  return menu;
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

void rebuildOpenRecentMenu(QMenu& menu, ApplicationDelegate& delegate) {
  menu.clear();
  PlaylistDocumentController& documents = delegate.documentController();
  for (const std::filesystem::path& path : documents.recentDocumentURLs()) {
    QAction* action = menu.addAction(QString::fromStdString(path.filename().string()));
    action->setToolTip(QString::fromStdString(path.string()));
    QObject::connect(action, &QAction::triggered, action, [&delegate, path] { delegate.openDocument(path); });
  }
  menu.addSeparator();
  QAction* clear = menu.addAction(QObject::tr("Clear Menu"));
  clear->setEnabled(!documents.recentDocumentURLs().empty());
  QObject::connect(clear, &QAction::triggered, clear, [&documents] { documents.clearRecentDocuments(); });
}

void rebuildWindowList(QMenu& menu, const std::vector<QAction*>& fixed, ApplicationDelegate& delegate) {
  for (QAction* action : menu.actions()) {
    if (std::find(fixed.begin(), fixed.end(), action) == fixed.end()) {
      menu.removeAction(action);
      action->deleteLater();
    }
  }
  PlaylistDocumentController& documents = delegate.documentController();
  const auto open = documents.documents();
  if (!open.empty()) menu.addSeparator();
  for (const auto& document : open) {
    QAction* action = menu.addAction(QString::fromStdString(PlaylistDocumentController::displayName(*document)));
    std::weak_ptr<nodes::VideoPlaylistDocument> weak = document;
    QObject::connect(action, &QAction::triggered, action, [&documents, weak] {
      const auto document = weak.lock();
      if (!document) return;
      if (const auto window = documents.windowControllerForDocument(*document)) window->showWindow();
    });
  }
}

void populateFile(QMenuBar& bar, ApplicationDelegate& delegate, const MenuOwner& owner) {
  ApplicationDelegate* target = &delegate;
  PlaylistDocumentController* documents = &delegate.documentController();
  QMenu* file = addMenu(bar, QObject::tr("&File"));
  addAction(*file, QObject::tr("New Playlist"), kNewPlaylistActionName, [target] { target->newDocument(); },
            QKeySequence::New);
  QMenuBar* barPointer = &bar;
  addAction(
      *file, QObject::tr("Open Playlist..."), kOpenPlaylistActionName,
      [target, barPointer] {
        const QString path = QFileDialog::getOpenFileName(barPointer->window(), QObject::tr("Open Playlist"),
                                                          QString(), ApplicationMenus::playlistFileFilter());
        if (!path.isEmpty()) target->openDocument(path.toStdString());
      },
      QKeySequence::Open);
  QMenu* recent = file->addMenu(QObject::tr("Open Recent"));
  recent->setObjectName(kOpenRecentMenuName);
  recent->setToolTipsVisible(true);
  rebuildOpenRecentMenu(*recent, delegate);
  QObject::connect(recent, &QMenu::aboutToShow, recent, [recent, target] { rebuildOpenRecentMenu(*recent, *target); });
  QMenu* fromNode = file->addMenu(QObject::tr("Playlist from Node"));
  fromNode->setObjectName(kPlaylistFromNodeMenuName);
  QObject::connect(fromNode, &QMenu::aboutToShow, fromNode,
                   [fromNode, target] { rebuildPlaylistFromNodeMenu(*fromNode, *target); });
  file->addSeparator();

  // The owner's own document, else the one it follows at the moment of use.
  const std::weak_ptr<nodes::VideoPlaylistDocument> own = owner.document;
  const auto follow = owner.followedDocument;
  const auto document = [own, follow]() -> std::shared_ptr<nodes::VideoPlaylistDocument> {
    if (auto mine = own.lock()) return mine;
    return follow ? follow() : nullptr;
  };
  QPointer<QWidget> window = owner.window;
  QAction* close = addAction(
      *file, QObject::tr("Close"), kCloseActionName,
      [window] {
        if (window) window->close();
      },
      QKeySequence(Qt::CTRL | Qt::Key_W));
  QAction* save = addAction(
      *file, QObject::tr("Save"), kSaveActionName,
      [documents, document] {
        if (const auto target = document()) documents->saveDocument(target);
      },
      QKeySequence(Qt::CTRL | Qt::Key_S));
  QAction* saveAs = addAction(
      *file, QObject::tr("Save As..."), kSaveAsActionName,
      [documents, document] {
        if (const auto target = document()) documents->saveDocumentAs(target);
      },
      QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  QAction* revert = addAction(*file, QObject::tr("Revert to Saved"), kRevertActionName, [documents, document] {
    if (const auto target = document()) documents->revertDocumentToSaved(target);
  });
  const bool hasDocument = owner.document || owner.followedDocument;
  for (QAction* action : {save, saveAs, revert}) action->setEnabled(hasDocument);
  close->setEnabled(owner.window != nullptr);
  // Save and Save As stay live for a followed document that may be gone at
  // times: their shortcuts must work once it is back; they do nothing meanwhile.
  QObject::connect(file, &QMenu::aboutToShow, revert, [revert, document] {
    const auto target = document();
    revert->setEnabled(target && target->fileURL() && target->isDocumentEdited());
  });
  file->addSeparator();
  addAction(*file, QObject::tr("Reset Media Database..."), nullptr, [target] { target->resetMediaDatabase(); });
  file->addSeparator();
  QAction* preferences =
      addAction(*file, QObject::tr("Preferences..."), kPreferencesActionName, [target] { target->showPreferences(); },
                QKeySequence(Qt::CTRL | Qt::Key_Comma), QAction::PreferencesRole);
  markNotAvailable(preferences, delegate.hasPreferencesWindow());
  addAction(*file, QObject::tr("Quit %1").arg(QApplication::applicationDisplayName()), kQuitActionName,
            [target] { ApplicationMenus::quit(*target); }, QKeySequence::Quit, QAction::QuitRole);
}

void populateEdit(QMenuBar& bar, const MenuOwner& owner) {
  QMenu* edit = addMenu(bar, QObject::tr("&Edit"));
  if (owner.editActions.empty()) {
    for (const QString& title : {QObject::tr("Undo"), QObject::tr("Redo"), QString(), QObject::tr("Cut"),
                                 QObject::tr("Copy"), QObject::tr("Paste"), QObject::tr("Delete"),
                                 QObject::tr("Select All")}) {
      if (title.isEmpty()) {
        edit->addSeparator();
      } else {
        edit->addAction(title)->setEnabled(false);
      }
    }
    return;
  }
  for (QAction* action : owner.editActions) {
    if (!action) {
      edit->addSeparator();
      continue;
    }
    // The window's menu bar reaches them from any control of the window.
    action->setShortcutContext(Qt::WindowShortcut);
    edit->addAction(action);
  }
}

void populateWindow(QMenuBar& bar, ApplicationDelegate& delegate) {
  ApplicationDelegate* target = &delegate;
  QMenu* window = addMenu(bar, QObject::tr("&Window"));
  std::vector<QAction*> fixed;
  fixed.push_back(addAction(*window, QObject::tr("Media Browser"), nullptr, [target] { target->showMediaBrowser(); }));
  markNotAvailable(fixed.back(), delegate.hasMediaBrowserWindow());
  fixed.push_back(addAction(*window, QObject::tr("Clip Inspector"), nullptr, [target] { target->showClipInspector(); },
                            QKeySequence(Qt::CTRL | Qt::Key_I)));
  markNotAvailable(fixed.back(), delegate.hasClipInspectorWindow());
  fixed.push_back(
      addAction(*window, QObject::tr("New Countdown Window"), nullptr, [target] { target->newCountDownWindow(); }));
  markNotAvailable(fixed.back(), delegate.hasCountDownWindow());
  QObject::connect(window, &QMenu::aboutToShow, window,
                   [window, fixed, target] { rebuildWindowList(*window, fixed, *target); });
}

void populateHelp(QMenuBar& bar, ApplicationDelegate& delegate) {
  ApplicationDelegate* target = &delegate;
  QMenu* help = addMenu(bar, QObject::tr("&Help"));
  addAction(*help, QObject::tr("Search Knowledge Base"), nullptr, [target] { target->searchKnowledgeBase(); });
  addAction(*help, QObject::tr("Contact Support..."), nullptr, [target] { target->contactSupport(); });
  help->addSeparator();
  addAction(*help, QObject::tr("About %1").arg(QApplication::applicationDisplayName()), kAboutActionName,
            [target] { target->orderFrontStandardAboutPanel(); }, {}, QAction::AboutRole);
}

}  // namespace

QString ApplicationMenus::playlistFileFilter() {
  return QObject::tr("Playlists (*.%1);;All files (*)").arg(QString::fromUtf8(kPlaylistDocumentFileExtension));
}

void ApplicationMenus::quit(ApplicationDelegate& delegate) {
  // exit(), not quit(): quit() first asks every window to close, and the start
  // window answers a close by asking to quit again, for ever. The questions
  // about edited documents were asked just now.
  if (delegate.applicationShouldTerminate()) QCoreApplication::exit(0);
}

void ApplicationMenus::populate(QMenuBar& menuBar, ApplicationDelegate& delegate, const MenuOwner& owner) {
  populateFile(menuBar, delegate, owner);
  populateEdit(menuBar, owner);
  populateWindow(menuBar, delegate);
  populateHelp(menuBar, delegate);
}

}  // namespace app::views
