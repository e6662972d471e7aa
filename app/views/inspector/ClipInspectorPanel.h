#pragma once
// ClipInspectorPanel: the clip inspector's floating tool window: the toolbar
// (Attributes, In/Out, Resize, Info) over the pane shown. It publishes
// whether Alt (the Option key) is held (`altKeyDown`); the preview's mix
// points follow it. Keys pressed anywhere in it go to the window controller,
// which offers them to the current pane; keys nobody takes are dropped
// (typing fields and menu shortcuts keep theirs).
//
// Owned by the inspector's window handle; detaches from the controller
// before it goes. GUI thread.

#include <map>

#include <QWidget>

#include "app/inspector/ClipInspectorWindowController.h"
#include "platform/UserDefaults.h"

class QActionGroup;
class QMenuBar;
class QStackedWidget;
class QToolBar;

namespace app::views {

class InOutPaneView;

class ClipInspectorPanel final : public QWidget, public inspector::ClipInspectorWindow {
  Q_OBJECT
  Q_PROPERTY(bool altKeyDown READ altKeyDown WRITE setAltKeyDown NOTIFY altKeyDownChanged)

 public:
  ClipInspectorPanel(inspector::ClipInspectorWindowController& controller, platform::UserDefaults& defaults,
                     QWidget* parent = nullptr);
  ~ClipInspectorPanel() override;

  bool altKeyDown() const { return altKeyDown_; }
  void setAltKeyDown(bool down);
  QMenuBar* menuBar() const { return menuBar_; }
  QToolBar* toolbar() const { return toolbar_; }
  InOutPaneView& inOutPaneView() { return *inOut_; }

  // ClipInspectorWindow.
  void selectToolbarItem(const std::string& identifier) override;
  inspector::PaneFrame frame() const override;
  inspector::PaneSize contentSize() const override;
  inspector::PaneSize paneViewSize(const inspector::ClipInspectorViewController& pane) const override;
  void showPane(inspector::ClipInspectorViewController& pane, const inspector::PaneResize& resize) override;

 signals:
  void altKeyDownChanged(bool down);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  void restoreOrigin();

  inspector::ClipInspectorWindowController& controller_;
  platform::UserDefaults& defaults_;
  QMenuBar* menuBar_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QStackedWidget* panes_ = nullptr;
  InOutPaneView* inOut_ = nullptr;
  std::map<const inspector::ClipInspectorViewController*, QWidget*> paneViews_;
  std::map<std::string, QAction*> toolbarItems_;
  bool altKeyDown_ = false;
};

}  // namespace app::views
