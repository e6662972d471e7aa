#pragma once
// AttributesPaneView: the Attributes pane's outline: plug-in rows (bold grey
// text) with one editor row per attribute: the three-state box, the name
// (bold for own values) and a pop-up or a text field. Taking the focus away
// from a text field commits it, as Return does. Draws the pane's state and
// forwards the operator's edits; decides nothing.
//
// Owned by the inspector panel. GUI thread.

#include <QWidget>

#include "app/inspector/AttributesClipInspectorViewController.h"

class QLabel;
class QTreeWidget;

namespace app::views {

class AttributesPaneView final : public QWidget {
  Q_OBJECT

 public:
  explicit AttributesPaneView(inspector::AttributesClipInspectorViewController& pane, QWidget* parent = nullptr);
  void refresh();

 private:
  QWidget* makeEditor(inspector::AttributeViewController& editor);

  inspector::AttributesClipInspectorViewController& pane_;
  QLabel* selectionValidation_ = nullptr;
  QLabel* refusal_ = nullptr;
  QTreeWidget* outline_ = nullptr;
  bool rebuilding_ = false;
};

}  // namespace app::views
