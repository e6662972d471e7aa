#pragma once
// ResizePaneView: the Resize pane's three-state box, four fields and Apply;
// a refused Apply shows its reason under them. Draws the pane's state and
// forwards the operator's edits; decides nothing.
//
// Owned by the inspector panel. GUI thread.

#include <array>

#include <QWidget>

#include "app/inspector/ResizeClipInspectorViewController.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace app::views {

class ResizePaneView final : public QWidget {
  Q_OBJECT

 public:
  explicit ResizePaneView(inspector::ResizeClipInspectorViewController& pane, QWidget* parent = nullptr);
  void refresh();

 private:
  inspector::ResizeClipInspectorViewController& pane_;
  QLabel* selectionValidation_ = nullptr;
  QWidget* controls_ = nullptr;
  QCheckBox* resizeVideo_ = nullptr;
  std::array<QLineEdit*, static_cast<std::size_t>(inspector::ResizeField::Count)> fields_{};
  QPushButton* apply_ = nullptr;
  QLabel* refusal_ = nullptr;
};

}  // namespace app::views
