#include "app/views/PlaylistWindow.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QInputDialog>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>

#include "app/PlaylistWindowController.h"
#include "app/views/PlaybackProgressView.h"
#include "ui_PlaylistWindow.h"

namespace app::views {
namespace {

enum Column { kStatusColumn = 0, kNodeColumn = 1, kStartColumn = 2, kDurationColumn = 3, kNameColumn = 4 };

QString qt(const std::string& text) { return QString::fromStdString(text); }

QString statusMark(std::int32_t status) {
  switch (status) {
    case 1: return QStringLiteral("Paused");
    case 2: return QStringLiteral("Cued");
    case 3: return QStringLiteral("Playing");
    case 6: return QStringLiteral("Ended");
    default: return QString();
  }
}

// The counter text with its leading characters drawn faint.
QString counterHtml(const CounterText& counter) {
  const QString text = qt(counter.text);
  const auto dimmed = static_cast<qsizetype>(std::min<std::size_t>(counter.dimmedCharacters, text.size()));
  return QStringLiteral("<span style=\"color: rgba(102,102,102,0.1)\">%1</span>"
                        "<span style=\"color: rgb(102,102,102)\">%2</span>")
      .arg(text.left(dimmed).toHtmlEscaped(), text.mid(dimmed).toHtmlEscaped());
}

}  // namespace

PlaylistWindow::PlaylistWindow(PlaylistWindowController& controller, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::PlaylistWindow>()), controller_(&controller) {
  ui_->setupUi(this);
  const QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  for (QLabel* field : {ui_->itemElapsedTimeTextField, ui_->itemRemainingTimeTextField, ui_->itemTotalTimeTextField,
                        ui_->playlistElapsedTimeTextField, ui_->playlistRemainingTimeTextField,
                        ui_->playlistTotalTimeTextField}) {
    field->setFont(digits);
  }
  QFont big = digits;
  big.setPointSizeF(digits.pointSizeF() * 2.0);
  ui_->elapsedBigTextField->setFont(big);
  ui_->remainingBigTextField->setFont(big);
  ui_->itemProgressView->setColorScheme(PlaybackProgressView::kClipColorScheme);
  ui_->playlistProgressView->setColorScheme(PlaybackProgressView::kBlockColorScheme);
  // The mode switches show the document's modes; changing them is not this window's yet.
  for (QWidget* indicator : {static_cast<QWidget*>(ui_->chainButton), static_cast<QWidget*>(ui_->loopButton),
                             static_cast<QWidget*>(ui_->cueButton), static_cast<QWidget*>(ui_->ABRollButton)}) {
    indicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    indicator->setFocusPolicy(Qt::NoFocus);
  }
  connectControls();
  controller.setView(this);
}

PlaylistWindow::~PlaylistWindow() { detachController(); }

void PlaylistWindow::detachController() {
  if (!controller_) return;
  controller_->setView(nullptr);
  controller_ = nullptr;
}

QTableWidget* PlaylistWindow::tableView() const { return ui_->tableView; }
PlaybackProgressView* PlaylistWindow::itemProgressView() const { return ui_->itemProgressView; }
PlaybackProgressView* PlaylistWindow::playlistProgressView() const { return ui_->playlistProgressView; }

void PlaylistWindow::connectControls() {
  const auto forward = [this](QAbstractButton* button, void (PlaylistWindowController::*action)()) {
    connect(button, &QAbstractButton::clicked, this, [this, action] {
      if (controller_) (controller_->*action)();
    });
  };
  forward(ui_->skipToPreviousButton, &PlaylistWindowController::skipToPreviousButtonPushed);
  forward(ui_->stopButton, &PlaylistWindowController::stopButtonPushed);
  forward(ui_->pauseButton, &PlaylistWindowController::pauseButtonPushed);
  forward(ui_->cueTransportButton, &PlaylistWindowController::cueButtonPushed);
  forward(ui_->playButton, &PlaylistWindowController::playButtonPushed);
  forward(ui_->skipToNextButton, &PlaylistWindowController::skipToNextButtonPushed);
  forward(ui_->padLockButton, &PlaylistWindowController::padLockButtonPushed);
  forward(ui_->padUnlockButton, &PlaylistWindowController::padUnlockButtonPushed);

  connect(ui_->tableView, &QTableWidget::itemSelectionChanged, this, [this] {
    if (!controller_) return;
    const auto rows = ui_->tableView->selectionModel()->selectedRows();
    controller_->tableSelectionDidChange(rows.isEmpty() ? std::nullopt
                                                        : std::optional<std::int64_t>(rows.front().row()));
  });
  connect(ui_->tableView, &QTableWidget::cellClicked, this, [this](int row, int) {
    if (controller_) controller_->rowClicked(row);
  });
  connect(ui_->tableView, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    if (controller_) controller_->doubleClick(row);
  });
}

void PlaylistWindow::showState(const PlaylistViewState& state) {
  setWindowTitle(qt(state.title));
  showRows(state);
  if (state.rowToCentre) {
    if (const auto* item = ui_->tableView->item(static_cast<int>(*state.rowToCentre), 0))
      ui_->tableView->scrollToItem(item, QAbstractItemView::PositionAtCenter);
  }

  ui_->playbackControlSegmentedControl->setEnabled(state.transportEnabled);
  ui_->padLockButton->setEnabled(state.padLockEnabled);
  ui_->padUnlockButton->setEnabled(state.padUnlockEnabled);
  for (QToolButton* button : {ui_->chainButton, ui_->loopButton, ui_->cueButton}) button->setEnabled(state.settingsEnabled);
  ui_->chainButton->setChecked(state.chainOn);
  ui_->loopButton->setChecked(state.loopOn);
  ui_->cueButton->setChecked(state.cueModeOn);
  ui_->ABRollButton->setChecked(state.abRollOn);
  ui_->ABRollButton->setEnabled(state.nodeSelectorsEnabled);
  ui_->nodeAPopUpField->setText(qt(state.nodeAName));
  ui_->nodeAPopUpField->setEnabled(state.nodeSelectorsEnabled);
  ui_->nodeBPopUpField->setText(qt(state.nodeBName));
  ui_->nodeBPopUpField->setVisible(state.abRollOn);
  ui_->nodeBPopUpField->setEnabled(state.nodeSelectorsEnabled);

  ui_->itemElapsedTimeTextField->setText(qt(state.itemElapsed));
  ui_->itemRemainingTimeTextField->setText(qt(state.itemRemaining));
  ui_->itemTotalTimeTextField->setText(qt(state.itemTotal));
  ui_->playlistElapsedTimeTextField->setText(qt(state.playlistElapsed));
  ui_->playlistRemainingTimeTextField->setText(qt(state.playlistRemaining));
  ui_->playlistTotalTimeTextField->setText(qt(state.playlistTotal));
  ui_->elapsedBigTextField->setText(counterHtml(state.bigElapsed));
  ui_->remainingBigTextField->setText(counterHtml(state.bigRemaining));
  ui_->itemProgressView->setDoubleValue(state.itemProgress);
  ui_->playlistProgressView->setDoubleValue(state.playlistProgress);

  if (state.passwordRequest != shownPasswordRequest_) {
    shownPasswordRequest_ = state.passwordRequest;
    if (state.passwordRequest != PasswordRequest::None) {
      // Asked outside this call: the prompt runs its own event loop.
      const PasswordRequest request = state.passwordRequest;
      QTimer::singleShot(0, this, [this, request] { askForPasswords(request); });
    }
  }
}

void PlaylistWindow::showRows(const PlaylistViewState& state) {
  QTableWidget& table = *ui_->tableView;
  const QSignalBlocker quiet(&table);
  table.setRowCount(static_cast<int>(state.rows.size()));
  for (int row = 0; row < table.rowCount(); ++row) {
    const PlaylistRowState& rowState = state.rows[static_cast<std::size_t>(row)];
    const QString texts[] = {statusMark(rowState.status),
                             rowState.abRollMarked ? (rowState.owner == RowOwner::NodeB ? QStringLiteral("B")
                                                                                         : QStringLiteral("A"))
                                                   : QString(),
                             qt(rowState.startTime), qt(rowState.duration), qt(rowState.name)};
    for (int column = 0; column < table.columnCount(); ++column) {
      QTableWidgetItem* item = table.item(row, column);
      if (!item) {
        item = new QTableWidgetItem;
        table.setItem(row, column, item);
      }
      item->setText(texts[column]);
      QFont font = item->font();
      font.setBold(row == state.onAirRow);
      item->setFont(font);
      item->setForeground(rowState.online ? palette().color(QPalette::Text)
                                          : palette().color(QPalette::Disabled, QPalette::Text));
    }
  }
}

void PlaylistWindow::askForPasswords(PasswordRequest request) {
  if (!controller_ || shownPasswordRequest_ != request) return;
  bool accepted = false;
  const QString first = QInputDialog::getText(
      this, tr("Unlock"), request == PasswordRequest::NodesAAndB ? tr("Password of node A:") : tr("Password:"),
      QLineEdit::Password, QString(), &accepted);
  std::optional<std::string> second;
  if (accepted && request == PasswordRequest::NodesAAndB) {
    const QString text = QInputDialog::getText(this, tr("Unlock"), tr("Password of node B:"), QLineEdit::Password,
                                               QString(), &accepted);
    second = text.toStdString();
  }
  if (!controller_) return;
  shownPasswordRequest_ = PasswordRequest::None;
  if (accepted) {
    controller_->unlockNodes(first.toStdString(), second);
  } else {
    controller_->passwordRequestDismissed();
  }
}

std::optional<nodes::WindowFrame> PlaylistWindow::windowFrame() const {
  if (!isVisible()) return std::nullopt;
  const QRect frame = frameGeometry();
  return nodes::WindowFrame{static_cast<double>(frame.x()), static_cast<double>(frame.y()),
                            static_cast<double>(frame.width()), static_cast<double>(frame.height())};
}

void PlaylistWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (event->isAccepted()) emit windowClosed();
}

}  // namespace app::views
