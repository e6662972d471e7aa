#pragma once
// MediaBrowserWindow: the media browser's Qt window. It draws what the
// controller decides (the node chooser, the outline of the shown tree, the
// thumbnail, the clip count, the busy indicator) and forwards the operator's
// acts (choosing a node, selecting, expanding, renaming, dragging, the
// contextual menu, searching, dropping a file). The frame is kept in the
// defaults under "MediaBrowser".
//
// Owned by MediaBrowserWindowHandle. GUI thread.

#include <vector>

#include <QWidget>

#include "app/browser/MediaBrowserWindowController.h"
#include "platform/UserDefaults.h"

class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QTreeView;

namespace app::views {

class LiveClipDialog;
class MediaCollectionSortFilter;
class MediaCollectionTreeModel;
class NodePopUpButton;
class OfflineClipDialog;

class MediaBrowserWindow final : public QWidget, public browser::MediaBrowserView {
  Q_OBJECT

 public:
  MediaBrowserWindow(browser::MediaBrowserWindowController& controller, platform::UserDefaults& defaults);
  ~MediaBrowserWindow() override;

  // MediaBrowserView.
  void showWindow() override;
  void showNodeChooser(const browser::NodeChooserState& chooser) override;
  void showSelectedNodeName(const std::string& name) override;
  void reloadOutline(const std::vector<browser::MediaCollectionNodePtr>& roots, bool keepScrollPosition) override;
  void selectNodes(const std::vector<browser::MediaCollectionNodePtr>& nodes) override;
  void showThumbnail(std::shared_ptr<const nodes::RGBAImage> image) override;
  void showClipCount(const std::string& text) override;
  void showBusy(bool busy) override;
  void setRestrictedMode(bool restricted) override;
  void beginRenaming(const browser::MediaCollectionNodePtr& node) override;
  void openOfflineClipSheet(const browser::OfflineClipSheetState& state) override;
  void openLiveClipPanel() override;
  void closeLiveClipPanel() override;
  void beep() override;

  QTreeView* outline() const { return tree_; }
  MediaCollectionTreeModel* model() const { return model_; }
  // The outline index (of the sorted view) of a node; invalid when not shown.
  QModelIndex viewIndexOfNode(const browser::MediaCollectionNode* node) const;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void buildContextMenu();
  void showContextMenu(const QPoint& position);
  void showHeaderMenu(const QPoint& position);
  void expandMarkedNodes(const QModelIndex& sourceParent);
  void selectionDidChange();
  std::vector<browser::MediaCollectionNodePtr> selectedNodes() const;
  void restoreFrame();
  void saveFrame();

  browser::MediaBrowserWindowController& controller_;
  platform::UserDefaults& defaults_;
  NodePopUpButton* chooser_;
  QLabel* selectedNode_;
  QLineEdit* search_;
  QProgressBar* busy_;
  QTreeView* tree_;
  MediaCollectionTreeModel* model_;
  MediaCollectionSortFilter* sorted_;
  QLabel* thumbnail_;
  QLabel* bottomText_;
  QMenu* contextMenu_;
  std::vector<QAction*> contextItems_;  // in ContextMenuItem order
  OfflineClipDialog* offlineDialog_;
  LiveClipDialog* liveDialog_;
  bool reloading_ = false;
};

}  // namespace app::views
