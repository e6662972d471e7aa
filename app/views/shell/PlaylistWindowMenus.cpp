#include "app/views/shell/PlaylistWindowMenus.h"

#include "app/shell/ApplicationDelegate.h"
#include "app/views/playlist/DraggableTableView.h"
#include "app/views/playlist/PlaylistWindow.h"
#include "app/views/shell/ApplicationMenus.h"

namespace app::views {

void decoratePlaylistWindow(PlaylistWindow& window, const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                            ApplicationDelegate& delegate) {
  const DraggableTableView* table = window.tableView();
  MenuOwner owner{&window, document,
                  {table->undoAction(), table->redoAction(), nullptr, table->cutAction(), table->copyAction(),
                   table->pasteAction(), table->deleteAction(), table->selectAllAction()}};
  ApplicationMenus::populate(*window.menuBar(), delegate, owner);
  // The clip inspector follows the window the operator works in.
  std::weak_ptr<nodes::VideoPlaylistDocument> weakDocument = document;
  window.setBecameKeyHandler([&delegate, weakDocument] {
    if (const auto front = weakDocument.lock()) delegate.documentController().documentBecameFront(*front);
  });
  window.setCurrentDocumentQuery([&delegate, weakDocument] {
    return weakDocument.lock() == delegate.currentPlaylistDocument();
  });
  window.setMediaBrowserRevealer([&delegate](const std::vector<std::string>& clipUniqueIDs) {
    delegate.showMediaBrowser();
    if (const auto& browser = delegate.mediaBrowserWindowController()) browser->showClipsWithUniqueIDs(clipUniqueIDs);
  });
}

}  // namespace app::views
