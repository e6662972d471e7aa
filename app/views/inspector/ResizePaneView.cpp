#include "app/views/inspector/ResizePaneView.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/views/inspector/PaneViewRefresh.h"

namespace app::views {
namespace {

constexpr std::array<const char*, 4> kFieldCaptions{"X:", "Y:", "Width:", "Height:"};
constexpr std::array<const char*, 4> kFieldObjectNames{"originXTextField", "originYTextField", "widthTextField",
                                                       "heightTextField"};

}  // namespace

ResizePaneView::ResizePaneView(inspector::ResizeClipInspectorViewController& pane, QWidget* parent)
    : QWidget(parent), pane_(pane) {
  setObjectName("resizePane");
  auto* column = new QVBoxLayout(this);
  selectionValidation_ = new QLabel;
  selectionValidation_->setAlignment(Qt::AlignCenter);
  column->addWidget(selectionValidation_);
  controls_ = new QWidget;
  auto* form = new QFormLayout(controls_);
  resizeVideo_ = new QCheckBox(tr("Resize Video"));
  resizeVideo_->setObjectName("resizeVideoCheckBox");
  resizeVideo_->setTristate(true);
  // The pane owns the state cycle; the box only reports the click.
  connect(resizeVideo_, &QCheckBox::clicked, this, [this] { pane_.resizeVideoChecked(); });
  form->addRow(resizeVideo_);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i] = new QLineEdit;
    fields_[i]->setObjectName(kFieldObjectNames[i]);
    connect(fields_[i], &QLineEdit::textEdited, this, [this, i](const QString& text) {
      pane_.setFieldText(static_cast<inspector::ResizeField>(i), text.toStdString());
    });
    form->addRow(kFieldCaptions[i], fields_[i]);
  }
  apply_ = new QPushButton(tr("Apply"));
  apply_->setObjectName("applyButton");
  connect(apply_, &QPushButton::clicked, this, [this] {
    const platform::Status status = pane_.apply();
    refusal_->setText(status ? QString() : QString::fromStdString(status.error().localizedDescription));
  });
  form->addRow(apply_);
  refusal_ = new QLabel;
  refusal_->setObjectName("refusalLabel");
  refusal_->setWordWrap(true);
  form->addRow(refusal_);
  column->addWidget(controls_);
  column->addStretch(1);
  setMinimumSize(300, 240);
  followPane(pane_, this);
  refresh();
}

void ResizePaneView::refresh() {
  const inspector::ResizePaneState& state = pane_.state();
  selectionValidation_->setText(QString::fromStdString(state.selectionValidation));
  selectionValidation_->setVisible(!state.selectionValidation.empty());
  controls_->setVisible(!state.controlsHidden);
  const Qt::CheckState check = state.checkBox == inspector::CheckState::On    ? Qt::Checked
                               : state.checkBox == inspector::CheckState::Off ? Qt::Unchecked
                                                                              : Qt::PartiallyChecked;
  resizeVideo_->setCheckState(check);
  resizeVideo_->setEnabled(state.checkBoxEnabled);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i]->setText(QString::fromStdString(state.fields[i]));
    fields_[i]->setEnabled(state.fieldsEnabled);
  }
  apply_->setEnabled(state.fieldsEnabled);
}

}  // namespace app::views
