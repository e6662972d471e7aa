#include "app/views/browser/OfflineClipDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace app::views {

OfflineClipDialog::OfflineClipDialog(browser::MediaBrowserWindowController& controller, QWidget* parent)
    : QDialog(parent),
      controller_(controller),
      name_(new QLineEdit(this)),
      duration_(new QLineEdit(this)),
      frameRate_(new QComboBox(this)),
      dropFrame_(new QCheckBox(tr("Drop frame"), this)),
      folder_(new QLineEdit(this)) {
  setWindowTitle(tr("New Offline Clip"));
  setWindowModality(Qt::WindowModal);
  auto* form = new QFormLayout;
  form->addRow(tr("File name:"), name_);
  form->addRow(tr("Duration:"), duration_);
  form->addRow(tr("Frame rate:"), frameRate_);
  form->addRow(QString(), dropFrame_);
  form->addRow(tr("Folder:"), folder_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  connect(name_, &QLineEdit::textEdited, this, [this](const QString& text) {
    const auto change = controller_.offlineClipSheet().nameDidChange(text.toStdString());
    if (change.beep) QApplication::beep();
    const QString cleaned = QString::fromStdString(change.text);
    if (cleaned != text) name_->setText(cleaned);
  });
  connect(frameRate_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0) return;
    controller_.offlineClipSheet().frameRateChanged(static_cast<std::size_t>(index));
    showDropFrame();
  });
  connect(dropFrame_, &QCheckBox::toggled, this, [this](bool on) { controller_.offlineClipSheet().dropFrameChanged(on); });
  connect(this, &QDialog::finished, this, [this](int result) {
    auto& sheet = controller_.offlineClipSheet();
    sheet.setDurationText(duration_->text().toStdString());
    sheet.setFolder(folder_->text().toStdString());
    controller_.offlineClipSheetEnded(result == QDialog::Accepted ? 1 : 0);
  });
}

void OfflineClipDialog::showDropFrame() {
  const auto& sheet = controller_.offlineClipSheet();
  const QSignalBlocker block(dropFrame_);
  dropFrame_->setEnabled(sheet.dropFrameEnabled());
  dropFrame_->setChecked(sheet.dropFrame());
}

void OfflineClipDialog::openWith(const browser::OfflineClipSheetState& state) {
  {
    const QSignalBlocker block(frameRate_);
    frameRate_->clear();
    for (const auto& title : state.frameRateTitles) frameRate_->addItem(QString::fromStdString(title));
    frameRate_->setCurrentIndex(static_cast<int>(state.frameRateIndex));
  }
  showDropFrame();
  duration_->setText(QString::fromStdString(
      controller_.offlineClipSheet().formatter().stringForObjectValue(state.durationInSeconds)));
  folder_->setText(QString::fromStdString(state.folder));
  name_->setText(QString::fromStdString(state.fileName));
  open();
  name_->setFocus();
  name_->setSelection(0, static_cast<int>(state.selectedCharacters));
}

}  // namespace app::views
