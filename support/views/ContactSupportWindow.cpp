#include "support/views/ContactSupportWindow.h"

#include <type_traits>

#include <QDesktopServices>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QUrl>

#include "support/views/SupportSheets.h"
#include "support/views/TicketCell.h"
#include "support/window/SupportWindowTexts.h"
#include "ui_ContactSupportWindowController.h"

namespace support::views {
namespace {

using window::Colour;
using window::FormLabel;
using window::Page;

QString qs(const std::string& text) { return QString::fromStdString(text); }

QDateTime dateTime(std::chrono::system_clock::time_point date) {
  return QDateTime::fromMSecsSinceEpoch(
      std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count());
}

std::chrono::system_clock::time_point timePoint(const QDateTime& date) {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(date.toMSecsSinceEpoch()));
}

QString colourStyle(Colour colour) {
  switch (colour) {
    case Colour::Red: return QStringLiteral("color: red;");
    case Colour::Valid: return QStringLiteral("color: rgb(1, 123, 2);");
    case Colour::Normal: break;
  }
  return {};
}

void setText(QLineEdit* field, const std::string& text) {
  if (field->text() != qs(text)) field->setText(qs(text));
}

void setText(QPlainTextEdit* view, const std::string& text) {
  if (view->toPlainText() != qs(text)) view->setPlainText(qs(text));
}

void drawOccurred(QComboBox* popUp, QDateTimeEdit* picker, QLabel* asterisk, const window::OccurredControl& occurred) {
  popUp->setCurrentIndex(occurred.item);
  picker->setVisible(occurred.pickerVisible);
  asterisk->setVisible(occurred.pickerVisible);
  picker->setMinimumDateTime(dateTime(occurred.minimumDate));
  if (occurred.maximumDate != std::chrono::system_clock::time_point{})
    picker->setMaximumDateTime(dateTime(occurred.maximumDate));
  picker->setDateTime(dateTime(occurred.pickerDate));
}

}  // namespace

QString linkedHtml(const window::LinkedText& text) {
  QString html = qs(text.text).toHtmlEscaped();
  for (const std::string& link : text.links) {
    const QString escaped = qs(link).toHtmlEscaped();
    const int at = html.indexOf(escaped);
    if (link.empty() || at < 0) continue;
    const QString anchor = QStringLiteral("<a href=\"%1\" style=\"color: blue; text-decoration: underline;\">%2</a>")
                               .arg(QString::fromUtf8(QUrl(qs(link)).toEncoded()).toHtmlEscaped(), escaped);
    html.replace(at, escaped.size(), anchor);
  }
  html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
  return html;
}

ContactSupportWindow::ContactSupportWindow(window::ContactSupportWindowController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), controller_(controller), ui_(std::make_unique<Ui::ContactSupportWindowController>()) {
  ui_->setupUi(this);
  QFont textFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  textFont.setPointSize(13);
  for (DidChangeTextView* view : {ui_->descriptionText, ui_->replyText}) {
    view->setFont(textFont);
    view->setDelegate(this);
  }
  ui_->requesterTypePopUp->addItems({tr("Select..."), tr("End-user"), tr("Reseller"), tr("Third-party")});
  for (QComboBox* popUp : {ui_->occurredPopUp, ui_->updateOccurredPopUp})
    popUp->addItems({tr("Select\u2026"), tr("Just now"), tr("At a given time")});
  ui_->ticketList->setItemDelegate(new TicketCell(ui_->ticketList));
  ui_->navigationTitle->setStyleSheet(QStringLiteral("font-weight: bold;"));
  SupportSheetActions actions;
  actions.collectingLogsContinue = [this] { controller_.collectingLogsContinueClick(); };
  actions.collectingLogsCancel = [this] { controller_.collectingLogsCancelClick(); };
  actions.closeExplanation = [this] { controller_.closeFilesAttachedExplanationWindow(); };
  actions.cancelUpload = [this] { controller_.cancelAmazonUpload(); };
  actions.errorButton = [this] { controller_.resumeMultiPartUpload(); };
  actions.sizeWarningOk = [this] { controller_.cancelUploadPushed(); };
  sheets_ = std::make_unique<SupportSheets>(*this, std::move(actions));
  connectControls();
  controller_.setView(this);
  controller_.windowDidLoad();
}

void ContactSupportWindow::placeMenuBar(QMenuBar& bar) {
  const int height = bar.sizeHint().height();
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child != &bar && !child->isWindow()) child->move(child->x(), child->y() + height);
  }
  bar.setGeometry(0, 0, width(), height);
  resize(width(), this->height() + height);
}

ContactSupportWindow::~ContactSupportWindow() { controller_.setView(nullptr); }

void ContactSupportWindow::connectControls() {
  const auto forward = [this](auto&& action) {
    // Signals such as clicked(bool) carry values a nullary action ignores.
    return [this, action](auto&&... values) {
      if (drawing_) return;
      if constexpr (std::is_invocable_v<decltype(action), decltype(values)...>) action(values...);
      else action();
    };
  };
  auto& c = controller_;
  connect(ui_->continueButton, &QPushButton::clicked, this, forward([&c] { c.continuePushed(); }));
  connect(ui_->backButton, &QPushButton::clicked, this, forward([&c] { c.previousButtonPushed(); }));
  connect(ui_->refreshButton, &QPushButton::clicked, this, forward([&c] { c.refreshConnection(); }));
  connect(ui_->contactTypeNew, &QRadioButton::clicked, this, forward([&c] { c.contactTypeChose(0); }));
  connect(ui_->contactTypeUpdate, &QRadioButton::clicked, this, forward([&c] { c.contactTypeChose(1); }));
  connect(ui_->contactTypeCollect, &QRadioButton::clicked, this, forward([&c] { c.contactTypeChose(2); }));
  connect(ui_->emailField, &QLineEdit::textEdited, this,
          forward([&c](const QString& text) { c.emailChanged(text.toStdString()); }));
  connect(ui_->nameField, &QLineEdit::textEdited, this,
          forward([&c](const QString& text) { c.nameChanged(text.toStdString()); }));
  connect(ui_->companyField, &QLineEdit::textEdited, this,
          forward([&c](const QString& text) { c.companyChanged(text.toStdString()); }));
  connect(ui_->endUserCompanyField, &QLineEdit::textEdited, this,
          forward([&c](const QString& text) { c.endUserCompanyChanged(text.toStdString()); }));
  connect(ui_->titleField, &QLineEdit::textEdited, this,
          forward([&c](const QString& text) { c.titleChanged(text.toStdString()); }));
  for (QLineEdit* field : {ui_->nameField, ui_->companyField, ui_->endUserCompanyField, ui_->titleField, ui_->emailField})
    connect(field, &QLineEdit::editingFinished, this, forward([&c] { c.textEditingEnded(); }));
  connect(ui_->requesterTypePopUp, &QComboBox::activated, this, forward([&c](int item) { c.requesterTypeChose(item); }));
  connect(ui_->occurredPopUp, &QComboBox::activated, this, forward([&c](int item) { c.occurredChose(item); }));
  connect(ui_->updateOccurredPopUp, &QComboBox::activated, this,
          forward([&c](int item) { c.updateOccurredChose(item); }));
  connect(ui_->occurredPicker, &QDateTimeEdit::dateTimeChanged, this,
          forward([&c](const QDateTime& date) { c.occurredDateChose(timePoint(date)); }));
  connect(ui_->updateOccurredPicker, &QDateTimeEdit::dateTimeChanged, this,
          forward([&c](const QDateTime& date) { c.updateOccurredDateChose(timePoint(date)); }));
  connect(ui_->alreadySearchedBox, &QCheckBox::toggled, this, forward([&c](bool on) { c.alreadySearchedChanged(on); }));
  connect(ui_->attachLogsBox, &QCheckBox::toggled, this, forward([&c](bool on) { c.attachLogsChanged(on); }));
  connect(ui_->updateAttachLogsBox, &QCheckBox::toggled, this,
          forward([&c](bool on) { c.updateAttachLogsChanged(on); }));
  connect(ui_->filesExplanationButton, &QPushButton::clicked, this,
          forward([&c] { c.showFilesAttachedExplanationWindow(); }));
  connect(ui_->viewOnlineButton, &QPushButton::clicked, this, forward([&c] { c.viewTicketOnline(); }));
  connect(ui_->addFileButton, &QPushButton::clicked, this, forward([&c] { c.addFile(); }));
  connect(ui_->removeFileButton, &QPushButton::clicked, this, forward([this] {
            std::vector<std::size_t> rows;
            for (const QModelIndex& index : ui_->filesList->selectionModel()->selectedRows())
              rows.push_back(static_cast<std::size_t>(index.row()));
            controller_.removeFiles(rows);
          }));
  connect(ui_->filesList, &QListWidget::itemSelectionChanged, this,
          forward([this] { controller_.fileSelectionChanged(!ui_->filesList->selectedItems().isEmpty()); }));
  connect(ui_->ticketList, &QListWidget::currentRowChanged, this, forward([&c](int row) {
            c.ticketSelected(row < 0 ? std::nullopt : std::optional<std::size_t>(static_cast<std::size_t>(row)));
          }));
}

void ContactSupportWindow::textViewDidChangeText(QPlainTextEdit& view) {
  if (drawing_) return;
  if (&view == ui_->descriptionText) controller_.problemDescriptionChanged(view.toPlainText().toStdString());
  else controller_.replyChanged(view.toPlainText().toStdString());
}

void ContactSupportWindow::update(const window::ContactSupportViewState& state) {
  const bool wasDrawing = drawing_;
  drawing_ = true;
  drawPages(state);
  drawForm(state);
  drawButtons(state);
  sheets_->update(state);
  drawing_ = wasDrawing;
}

void ContactSupportWindow::drawPages(const window::ContactSupportViewState& state) {
  ui_->navigationTitle->setText(qs(state.navigationTitle));
  QWidget* const pages[] = {nullptr, ui_->contactPage, ui_->profilerPage, ui_->ticketsPage, ui_->updatePage,
                            ui_->thankYouPage};
  QWidget* current = pages[static_cast<int>(state.page)];
  ui_->pages->setVisible(current != nullptr);
  if (current) ui_->pages->setCurrentWidget(current);

  QRadioButton* const rows[] = {ui_->contactTypeNew, ui_->contactTypeUpdate, ui_->contactTypeCollect};
  for (int row = 0; row < 3; ++row) {
    rows[row]->setChecked(row == state.contactType);
    if (row < 2) rows[row]->setEnabled(state.ticketRowsEnabled);
  }
  ui_->emailView->setVisible(state.emailViewVisible);
  setText(ui_->emailField, state.email);
  ui_->emailStatus->setTextFormat(Qt::PlainText);
  ui_->emailStatus->setText(qs(state.emailStatus.text));
  ui_->emailStatus->setStyleSheet(colourStyle(state.emailStatus.colour));
  ui_->emailStatus->setVisible(state.emailStatus.visible);
  ui_->verifiedImage->setText(state.emailStatus.verifiedImage ? QStringLiteral("\u2714") : QString());
  ui_->verifiedImage->setStyleSheet(colourStyle(Colour::Valid));

  ui_->ticketList->clear();
  for (const window::TicketRow& row : state.tickets) {
    auto* item = new QListWidgetItem(qs(row.subject), ui_->ticketList);
    item->setData(TicketCell::kSubtitleRole, qs(row.subtitle));
  }
  for (int row = 0; row < static_cast<int>(state.tickets.size()); ++row)
    if (state.tickets[static_cast<std::size_t>(row)].selected) ui_->ticketList->setCurrentRow(row);
  ui_->ticketList->setVisible(state.ticketListVisible);
  ui_->ticketIndicator->setVisible(state.ticketIndicatorRunning);
  ui_->noTicketsLabel->setVisible(state.noTicketsVisible);
  ui_->noTicketsLabel->setTextFormat(Qt::PlainText);
  ui_->noTicketsLabel->setText(qs(state.noTicketsText));

  ui_->ticketTitleLabel->setText(qs(state.ticketTitle));
  ui_->confirmationTitle->setText(qs(state.confirmationTitle));
  ui_->confirmationText->setHtml(linkedHtml(state.confirmation));
}

void ContactSupportWindow::drawForm(const window::ContactSupportViewState& state) {
  const auto colourOf = [&state](FormLabel label) {
    const auto it = state.labelColours.find(label);
    return colourStyle(it == state.labelColours.end() ? Colour::Normal : it->second);
  };
  ui_->emailLabel->setStyleSheet(colourOf(FormLabel::Email));
  ui_->nameLabel->setStyleSheet(colourOf(FormLabel::Name));
  ui_->companyLabel->setStyleSheet(colourOf(FormLabel::Company));
  ui_->titleLabel->setStyleSheet(colourOf(FormLabel::Title));
  ui_->descriptionLabel->setStyleSheet(colourOf(FormLabel::Description));
  ui_->requesterTypeLabel->setStyleSheet(colourOf(FormLabel::RequesterType));
  ui_->occurredLabel->setStyleSheet(colourOf(FormLabel::Occurred));
  ui_->endUserCompanyLabel->setStyleSheet(colourOf(FormLabel::EndUserCompany));
  ui_->updateOccurredLabel->setStyleSheet(colourOf(FormLabel::UpdateOccurred));
  ui_->replyLabel->setStyleSheet(colourOf(FormLabel::Reply));

  ui_->userInformationView->setVisible(state.userInformationVisible);
  setText(ui_->nameField, state.name);
  setText(ui_->companyField, state.company);
  setText(ui_->endUserCompanyField, state.endUserCompany);
  setText(ui_->titleField, state.title);
  setText(ui_->descriptionText, state.problemDescription);
  setText(ui_->replyText, state.reply);
  ui_->requesterTypePopUp->setCurrentIndex(state.requesterTypeItem);
  for (QWidget* widget : {static_cast<QWidget*>(ui_->endUserCompanyLabel), static_cast<QWidget*>(ui_->endUserCompanyField)})
    widget->setVisible(state.endUserCompanyVisible);
  drawOccurred(ui_->occurredPopUp, ui_->occurredPicker, ui_->occurredAsterisk, state.occurred);
  drawOccurred(ui_->updateOccurredPopUp, ui_->updateOccurredPicker, ui_->updateOccurredAsterisk, state.updateOccurred);
  ui_->alreadySearchedBox->setChecked(state.alreadySearched);
  ui_->attachLogsBox->setChecked(state.attachLogs);
  ui_->attachLogsBox->setVisible(state.attachLogsVisible);
  ui_->updateAttachLogsBox->setChecked(state.updateAttachLogs);
  ui_->updateAttachLogsBox->setEnabled(state.updateAttachLogsEnabled);
  ui_->filesExplanationButton->setVisible(state.filesExplanationButtonVisible);
  ui_->knowledgeBaseLabel->setText(
      linkedHtml({"Help Center", {}}).replace(QStringLiteral("Help Center"),
                                              QStringLiteral("<a href=\"%1\">Help Center</a>")
                                                  .arg(qs(state.helpCenterLink).toHtmlEscaped())));

  // The involved-files list sits on the page that offers it.
  QWidget* holder = state.page == Page::Update ? ui_->updateFilesHolder : ui_->descriptionFilesHolder;
  if (ui_->filesView->parentWidget() != holder) {
    ui_->filesView->setParent(holder);
    ui_->filesView->move(0, 0);
  }
  ui_->filesView->setVisible(state.involvedFilesVisible);
  ui_->filesList->clear();
  for (const std::filesystem::path& path : state.involvedFiles) ui_->filesList->addItem(qs(path.string()));
  ui_->tooManyFilesNote->setVisible(state.tooManyFilesNoteVisible);
  ui_->removeFileButton->setEnabled(state.removeFileEnabled);
  ui_->missingInfosLabel->setText(qs(state.missingInfoText));
  ui_->missingInfosLabel->setStyleSheet(colourStyle(Colour::Red));
  ui_->missingInfosLabel->setVisible(state.missingInfoVisible);
}

void ContactSupportWindow::drawButtons(const window::ContactSupportViewState& state) {
  const window::ContinueButtonRole role = window::continueButtonRole(state.continueRole);
  const window::ButtonPlaces places = window::buttonPlaces(ui_->buttonBar->width(), state.continueRole);
  ui_->continueButton->setText(QString::fromUtf8(role.title));
  ui_->continueButton->setGeometry(places.continueX, ui_->continueButton->y(), role.width,
                                   ui_->continueButton->height());
  ui_->backButton->setGeometry(places.backX, ui_->backButton->y(), 97, ui_->backButton->height());
  ui_->continueButton->setEnabled(state.continueEnabled);
  ui_->backButton->setEnabled(state.backEnabled);
  ui_->refreshButton->setVisible(state.refreshButtonVisible);
  ui_->informationLabel->setText(qs(state.information.text));
  ui_->informationLabel->setStyleSheet(colourStyle(state.information.colour));
  ui_->informationLabel->setVisible(state.information.visible);
  ui_->informationLabel->move(state.information.x, ui_->informationLabel->y());
  ui_->indicator->setVisible(state.information.indicator);
}

void ContactSupportWindow::showWindow() {
  show();
  raise();
  activateWindow();
}

void ContactSupportWindow::shake() {
  auto* animation = new QPropertyAnimation(this, "pos", this);
  const QPoint origin = pos();
  const int offset = width() * 2 / 100;
  animation->setDuration(200);
  animation->setKeyValueAt(0.0, origin);
  animation->setKeyValueAt(0.2, origin - QPoint(offset, 0));
  animation->setKeyValueAt(0.4, origin + QPoint(offset, 0));
  animation->setKeyValueAt(0.6, origin - QPoint(offset, 0));
  animation->setKeyValueAt(0.8, origin + QPoint(offset, 0));
  animation->setKeyValueAt(1.0, origin);
  animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void ContactSupportWindow::chooseFiles(bool documentTypesOnly, FilesChosen chosen) {
  auto* panel = new QFileDialog(this);
  panel->setAttribute(Qt::WA_DeleteOnClose);
  panel->setWindowModality(Qt::WindowModal);
  panel->setFileMode(QFileDialog::ExistingFiles);
  panel->setLabelText(QFileDialog::Accept, tr("Select"));
  if (documentTypesOnly) panel->setNameFilter(tr("Playlists (*.zvpl *.zapl *.zxpl)"));
  connect(panel, &QFileDialog::filesSelected, this, [chosen](const QStringList& files) {
    std::vector<std::filesystem::path> paths;
    for (const QString& file : files) paths.emplace_back(file.toStdString());
    chosen(std::move(paths));
  });
  panel->open();
}

void ContactSupportWindow::chooseFolder(FolderChosen chosen) {
  auto* panel = new QFileDialog(this, tr("Where do you want to save your logs?"));
  panel->setAttribute(Qt::WA_DeleteOnClose);
  panel->setWindowModality(Qt::WindowModal);
  panel->setFileMode(QFileDialog::Directory);
  panel->setOption(QFileDialog::ShowDirsOnly);
  panel->setLabelText(QFileDialog::Accept, tr("Save"));
  connect(panel, &QFileDialog::fileSelected, this,
          [chosen](const QString& folder) { chosen(std::filesystem::path(folder.toStdString())); });
  connect(panel, &QFileDialog::rejected, this, [chosen] { chosen(std::nullopt); });
  panel->open();
}

void ContactSupportWindow::showAlert(const std::string& message, const std::string& informative) {
  QMessageBox alert(QMessageBox::Warning, qs(message), qs(message), QMessageBox::Ok, this);
  alert.setTextFormat(Qt::PlainText);
  alert.setInformativeText(qs(informative));
  alert.exec();
}

bool ContactSupportWindow::openURL(const std::string& address) { return QDesktopServices::openUrl(QUrl(qs(address))); }

}  // namespace support::views
