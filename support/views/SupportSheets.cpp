#include "support/views/SupportSheets.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace support::views {
namespace {

QLabel* plainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  return label;
}

QProgressBar* busyIndicator(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 0);
  bar->setTextVisible(false);
  return bar;
}

QPushButton* button(const QString& title, QWidget* parent, const std::function<void()>& action) {
  auto* pushButton = new QPushButton(title, parent);
  QObject::connect(pushButton, &QPushButton::clicked, parent, [action] {
    if (action) action();
  });
  return pushButton;
}

void showIf(QDialog* sheet, bool shown) {
  if (shown && !sheet->isVisible()) sheet->open();
  if (!shown && sheet->isVisible()) sheet->hide();
}

}  // namespace

SupportSheets::SupportSheets(QWidget& window, SupportSheetActions actions) : actions_(std::move(actions)) {
  warning_ = makeSheet(window);
  auto* layout = new QVBoxLayout(warning_);
  layout->addWidget(plainLabel(QObject::tr("To help us help you, Contact Support collects the application's logs, "
                                           "the system logs around the time of the problem and a profile of this "
                                           "computer. Nothing leaves this computer unless you send it."),
                               warning_));
  layout->addWidget(button(QObject::tr("Continue"), warning_, actions_.collectingLogsContinue));
  layout->addWidget(button(QObject::tr("Cancel"), warning_, actions_.collectingLogsCancel));

  explanation_ = makeSheet(window);
  layout = new QVBoxLayout(explanation_);
  layout->addWidget(plainLabel(QObject::tr("Attached to your ticket: the application's information and preferences, "
                                           "its technical logs, crash reports, the system logs and journal around "
                                           "the time of the problem, and a profile of this computer's hardware."),
                               explanation_));
  layout->addWidget(button(QObject::tr("OK"), explanation_, actions_.closeExplanation));

  upload_ = makeSheet(window);
  layout = new QVBoxLayout(upload_);
  layout->addWidget(plainLabel(QObject::tr("Sending..."), upload_));
  layout->addWidget(busyIndicator(upload_));

  activity_ = makeSheet(window);
  layout = new QVBoxLayout(activity_);
  activityText_ = plainLabel({}, activity_);
  layout->addWidget(activityText_);
  layout->addWidget(busyIndicator(activity_));

  buildLargeUpload(window);
}

QDialog* SupportSheets::makeSheet(QWidget& window) {
  auto* sheet = new QDialog(&window, Qt::Sheet);
  sheet->setWindowModality(Qt::WindowModal);
  sheet->setMinimumWidth(420);
  return sheet;
}

void SupportSheets::buildLargeUpload(QWidget& window) {
  largeUpload_ = makeSheet(window);
  auto* layout = new QVBoxLayout(largeUpload_);
  largeContent_ = new QStackedWidget(largeUpload_);
  layout->addWidget(largeContent_);

  auto* progressView = new QWidget(largeContent_);
  auto* progressLayout = new QVBoxLayout(progressView);
  uploadMessage_ = plainLabel({}, progressView);
  progress_ = new QProgressBar(progressView);
  progress_->setTextVisible(false);
  progressText_ = plainLabel({}, progressView);
  progressLayout->addWidget(uploadMessage_);
  progressLayout->addWidget(progress_);
  progressLayout->addWidget(progressText_);
  progressLayout->addWidget(button(QObject::tr("Cancel"), progressView, actions_.cancelUpload));
  largeContent_->addWidget(progressView);

  auto* errorView = new QWidget(largeContent_);
  auto* errorLayout = new QVBoxLayout(errorView);
  errorText_ = plainLabel({}, errorView);
  errorIndicator_ = new QProgressBar(errorView);
  errorIndicator_->setTextVisible(false);
  errorStatus_ = plainLabel({}, errorView);
  errorButton_ = button(QObject::tr("Resume"), errorView, actions_.errorButton);
  errorLayout->addWidget(errorText_);
  errorLayout->addWidget(errorIndicator_);
  errorLayout->addWidget(errorStatus_);
  errorLayout->addWidget(errorButton_);
  errorLayout->addWidget(button(QObject::tr("Cancel"), errorView, actions_.cancelUpload));
  largeContent_->addWidget(errorView);

  auto* sizeWarning = new QWidget(largeContent_);
  auto* sizeLayout = new QVBoxLayout(sizeWarning);
  sizeLayout->addWidget(plainLabel(QObject::tr("The files you selected are larger than 100 GB in all. Please remove "
                                               "some of them and try again."),
                                   sizeWarning));
  sizeLayout->addWidget(button(QObject::tr("OK"), sizeWarning, actions_.sizeWarningOk));
  largeContent_->addWidget(sizeWarning);
}

void SupportSheets::update(const window::ContactSupportViewState& state) {
  using window::Sheet;
  activityText_->setText(QString::fromStdString(state.activityText));
  const window::UploadSheet& upload = state.upload;
  largeContent_->setCurrentIndex(static_cast<int>(upload.content) - static_cast<int>(window::LargeUploadContent::Progress));
  uploadMessage_->setText(QString::fromStdString(upload.message));
  progressText_->setText(QString::fromStdString(upload.progressText));
  // Megabytes in thousandths, so small bundles still move the bar.
  progress_->setRange(0, static_cast<int>(upload.progressMaximum * 1000));
  progress_->setValue(static_cast<int>(upload.progressValue * 1000));
  errorText_->setText(QString::fromStdString(upload.errorText));
  errorStatus_->setText(QString::fromStdString(upload.errorStatus));
  errorIndicator_->setRange(0, static_cast<int>(upload.errorIndicatorMaximum / 1000));
  errorIndicator_->setValue(static_cast<int>(upload.errorIndicatorValue / 1000));
  errorButton_->setText(QString::fromStdString(upload.errorButtonTitle));
  errorButton_->setEnabled(upload.errorButtonEnabled);

  showIf(warning_, state.sheet == Sheet::CollectingLogsWarning);
  showIf(explanation_, state.sheet == Sheet::FilesAttachedExplanation);
  showIf(upload_, state.sheet == Sheet::Upload);
  showIf(largeUpload_, state.sheet == Sheet::LargeUpload);
  showIf(activity_, state.sheet == Sheet::Activity);
}

}  // namespace support::views
