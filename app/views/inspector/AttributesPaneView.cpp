#include "app/views/inspector/AttributesPaneView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/views/inspector/PaneViewRefresh.h"

namespace app::views {
namespace {

constexpr int kEditorRowHeight = 38;
constexpr int kPluginRowHeight = 16;

Qt::CheckState qtCheckState(inspector::CheckState state) {
  switch (state) {
    case inspector::CheckState::On: return Qt::Checked;
    case inspector::CheckState::Off: return Qt::Unchecked;
    case inspector::CheckState::Mixed: return Qt::PartiallyChecked;
  }
  return Qt::Unchecked;
}

}  // namespace

AttributesPaneView::AttributesPaneView(inspector::AttributesClipInspectorViewController& pane, QWidget* parent)
    : QWidget(parent), pane_(pane) {
  setObjectName("attributesPane");
  auto* column = new QVBoxLayout(this);
  selectionValidation_ = new QLabel;
  selectionValidation_->setObjectName("selectionValidationLabel");
  selectionValidation_->setAlignment(Qt::AlignCenter);
  column->addWidget(selectionValidation_);
  outline_ = new QTreeWidget;
  outline_->setObjectName("outlineView");
  outline_->setColumnCount(1);
  outline_->setHeaderLabels({tr("Attribute")});
  outline_->header()->hide();
  outline_->setSelectionMode(QAbstractItemView::NoSelection);
  outline_->setFocusPolicy(Qt::NoFocus);
  connect(outline_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    if (!rebuilding_) pane_.outlineViewItemWillExpand(item->text(0).toStdString());
  });
  connect(outline_, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
    if (!rebuilding_) pane_.outlineViewItemWillCollapse(item->text(0).toStdString());
  });
  column->addWidget(outline_, 1);
  refusal_ = new QLabel;
  refusal_->setObjectName("refusalLabel");
  refusal_->setWordWrap(true);
  column->addWidget(refusal_);
  setMinimumSize(360, 300);
  followPane(pane_, this);
  refresh();
}

QWidget* AttributesPaneView::makeEditor(inspector::AttributeViewController& editor) {
  const inspector::AttributeEditorState& state = editor.state();
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(2, 2, 2, 2);
  auto* box = new QCheckBox;
  box->setObjectName("attributeEnabledCheckbox");
  box->setTristate(true);
  box->setCheckState(qtCheckState(state.checkBox));
  box->setEnabled(state.checkBoxEnabled);
  // Editors may go with the node's attribute list: look them up at each event.
  const std::string key = editor.attribute()->name().value_or("");
  connect(box, &QCheckBox::clicked, this, [this, key] {
    if (auto* found = pane_.editor(key)) found->attributeEnabledCheckboxChanged();
  });
  auto* name = new QLabel(QString::fromStdString(editor.attribute()->displayName().value_or(
      editor.attribute()->name().value_or(""))));
  name->setObjectName("attributeNameLabel");
  QFont font = name->font();
  font.setBold(state.labelBold);
  name->setFont(font);
  name->setEnabled(state.controlEnabled);
  layout->addWidget(box);
  layout->addWidget(name, 1);
  auto commit = [this, key](const std::string& value) {
    auto* found = pane_.editor(key);
    if (!found) return;
    found->controlTextDidChange(value);
    const platform::Status status = found->attributeValueFieldChanged();
    refusal_->setText(status ? QString() : QString::fromStdString(status.error().localizedDescription));
    // A refused value is put back in the editor, which the outline then shows.
    if (!status) QTimer::singleShot(0, this, [this] { refresh(); });
  };
  if (!state.possibleValues.empty()) {
    auto* popUp = new QComboBox;
    popUp->setObjectName("attributeValueField");
    for (const std::string& value : state.possibleValues) popUp->addItem(QString::fromStdString(value));
    popUp->setCurrentIndex(popUp->findText(QString::fromStdString(state.value)));
    popUp->setEnabled(state.controlEnabled);
    connect(popUp, &QComboBox::activated, this, [popUp, commit] { commit(popUp->currentText().toStdString()); });
    layout->addWidget(popUp, 1);
  } else {
    auto* text = new QLineEdit(QString::fromStdString(state.value));
    text->setObjectName("attributeValueField");
    text->setMaxLength(static_cast<int>(inspector::kMaximumAttributeTextLength));
    text->setEnabled(state.controlEnabled);
    connect(text, &QLineEdit::textEdited, this, [this, key](const QString& typed) {
      if (auto* found = pane_.editor(key)) found->controlTextDidChange(typed.toStdString());
    });
    connect(text, &QLineEdit::editingFinished, this, [this, key, text, commit] {
      text->setModified(false);
      if (auto* found = pane_.editor(key); found && found->edited()) commit(text->text().toStdString());
    });
    layout->addWidget(text, 1);
  }
  row->setMinimumHeight(kEditorRowHeight);
  return row;
}

void AttributesPaneView::refresh() {
  const inspector::AttributesPaneState& state = pane_.state();
  selectionValidation_->setText(QString::fromStdString(state.selectionValidation));
  selectionValidation_->setVisible(!state.selectionValidation.empty());
  outline_->setVisible(!state.scrollViewHidden);
  // A field being typed in keeps its row; the outline is rebuilt when the
  // operator is not in the middle of an edit.
  const auto* typing = qobject_cast<QLineEdit*>(focusWidget());
  if (typing && outline_->isAncestorOf(typing) && typing->isModified()) return;
  rebuilding_ = true;
  outline_->clear();
  for (const auto& [plugin, attributes] : state.plugins) {
    auto* pluginRow = new QTreeWidgetItem(outline_, {QString::fromStdString(plugin)});
    QFont bold = pluginRow->font(0);
    bold.setBold(true);
    pluginRow->setFont(0, bold);
    pluginRow->setForeground(0, QColor::fromRgbF(0.4, 0.4, 0.4));
    pluginRow->setSizeHint(0, QSize(0, kPluginRowHeight + 4));
    for (const std::string& name : attributes) {
      inspector::AttributeViewController* editor = pane_.editor(name);
      if (!editor) continue;
      auto* editorRow = new QTreeWidgetItem(pluginRow);
      editorRow->setSizeHint(0, QSize(0, kEditorRowHeight));
      outline_->setItemWidget(editorRow, 0, makeEditor(*editor));
    }
    pluginRow->setExpanded(pane_.openPluginNames().contains(plugin));
  }
  rebuilding_ = false;
}

}  // namespace app::views
