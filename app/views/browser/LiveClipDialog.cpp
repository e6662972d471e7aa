#include "app/views/browser/LiveClipDialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace app::views {

namespace {

constexpr double kLongestLiveClipSeconds = 24.0 * 3600.0;
constexpr double kDefaultLiveClipSeconds = 60.0;

}  // namespace

LiveClipDialog::LiveClipDialog(browser::MediaBrowserWindowController& controller, QWidget* parent)
    : QDialog(parent), controller_(controller), name_(new QLineEdit(this)), duration_(new QDoubleSpinBox(this)) {
  setWindowTitle(tr("New Live Clip"));
  setWindowModality(Qt::WindowModal);
  duration_->setRange(0.0, kLongestLiveClipSeconds);
  duration_->setSuffix(tr(" s"));
  auto* form = new QFormLayout;
  form->addRow(tr("Name:"), name_);
  form->addRow(tr("Duration:"), duration_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this,
          [this] { controller_.okMakeZiraClip(name_->text().toStdString(), duration_->value()); });
  connect(buttons, &QDialogButtonBox::rejected, this, [this] { controller_.cancelMakeZiraClip(); });
}

void LiveClipDialog::openEmpty() {
  name_->clear();
  duration_->setValue(kDefaultLiveClipSeconds);
  open();
  name_->setFocus();
}

void LiveClipDialog::done(int result) {
  // Escape and the close button cancel through the controller too.
  if (!closing_ && result == QDialog::Rejected) {
    controller_.cancelMakeZiraClip();
    return;
  }
  QDialog::done(result);
}

void LiveClipDialog::closeMade() {
  closing_ = true;
  QDialog::done(QDialog::Accepted);
  closing_ = false;
}

}  // namespace app::views
