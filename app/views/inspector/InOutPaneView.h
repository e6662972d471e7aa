#pragma once
// InOutPaneView: the In/Out pane: the clip preview pinned to the pane's
// edges, with the reason why points cannot be edited in place of its in/out
// controls when there is one. The pane's controller takes the preview's
// changes; this view decides nothing.
//
// Owned by the inspector panel; detaches the preview from the pane before
// it goes. GUI thread.

#include <QWidget>

#include "app/inspector/ZRXLInOutInspectorViewController.h"
#include "platform/UserDefaults.h"

class QLabel;

namespace app::views {

class ClipPreviewView;

class InOutPaneView final : public QWidget {
  Q_OBJECT

 public:
  InOutPaneView(inspector::ZRXLInOutInspectorViewController& pane, platform::UserDefaults& defaults,
                QWidget* parent = nullptr);
  ~InOutPaneView() override;
  void refresh();
  ClipPreviewView& preview() { return *preview_; }

 private:
  inspector::ZRXLInOutInspectorViewController& pane_;
  ClipPreviewView* preview_ = nullptr;  // child
  QLabel* message_ = nullptr;           // child (then of the preview, once shown in it)
};

}  // namespace app::views
