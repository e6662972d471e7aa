#include "app/views/playlist/PlaylistWindow.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QStyle>
#include <QTimeEdit>
#include <QUrl>
#include <QVBoxLayout>

#include "app/playlist/PlaylistWindowController.h"
#include "app/playlist/PlaylistWindowLayout.h"
#include "app/views/common/ViewCategory.h"
#include "app/views/playlist/DraggableTableView.h"
#include "app/views/playlist/KeyboardAwareWindow.h"
#include "app/views/playlist/NodePasswordPanel.h"
#include "app/views/playlist/PatternView.h"
#include "app/views/playlist/PlaybackProgressView.h"
#include "ui_PlaylistWindow.h"

namespace app::views {
namespace {

constexpr int kLayoutAnimationMilliseconds = 250;

QString qt(const std::string& text) { return QString::fromStdString(text); }

// The counter text with its leading characters drawn faint.
QString counterHtml(const CounterText& counter) {
  const QString text = qt(counter.text);
  const auto dimmed = static_cast<qsizetype>(std::min<std::size_t>(counter.dimmedCharacters, text.size()));
  return QStringLiteral("<span style=\"color: rgba(102,102,102,0.1)\">%1</span>"
                        "<span style=\"color: rgb(102,102,102)\">%2</span>")
      .arg(text.left(dimmed).toHtmlEscaped(), text.mid(dimmed).toHtmlEscaped());
}

LayoutRect layoutRect(const QRect& r) { return LayoutRect{double(r.x()), double(r.y()), double(r.width()), double(r.height())}; }
QRect qtRect(const LayoutRect& r) {
  return QRect(qRound(r.x), qRound(r.y), qRound(r.width), qRound(r.height));
}

}  // namespace

PlaylistWindow::PlaylistWindow(PlaylistWindowController& controller, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::PlaylistWindow>()),
      controller_(&controller),
      table_(nullptr),
      menuBar_(nullptr),
      keys_(nullptr),
      passwordPanel_(nullptr) {
  ui_->setupUi(this);
  menuBar_ = new QMenuBar(this);
  menuBar_->setObjectName("menuBar");
  ui_->mainLayout->setMenuBar(menuBar_);
  keys_ = new KeyboardAwareWindow(*this, [this](const PlaylistKey& key) {
    if (!controller_) return false;
    controller_->keyDown(key);
    return true;
  });
  auto* background = new PatternView(this);
  background->setObjectName("patternView");
  table_ = new DraggableTableView(controller, background);
  table_->setObjectName("tableView");
  fillInSuperView(*table_);
  ui_->tableLayout->addWidget(background);
  passwordPanel_ = new NodePasswordPanel(
      [this](const PlaylistNodeSelection::Passwords& passwords) {
        if (controller_) controller_->nodePasswordsOKButtonPushed(passwords);
      },
      [this] {
        if (controller_) controller_->passwordRequestDismissed();
      },
      this);

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
  const std::pair<QToolButton*, QStyle::StandardPixmap> transportIcons[] = {
      {ui_->skipToPreviousButton, QStyle::SP_MediaSkipBackward}, {ui_->stopButton, QStyle::SP_MediaStop},
      {ui_->pauseButton, QStyle::SP_MediaPause},                  {ui_->playButton, QStyle::SP_MediaPlay},
      {ui_->skipToNextButton, QStyle::SP_MediaSkipForward}};
  for (const auto& [button, icon] : transportIcons) button->setIcon(style()->standardIcon(icon));
  ui_->itemProgressView->setColorScheme(PlaybackProgressView::kClipColorScheme);
  ui_->playlistProgressView->setColorScheme(PlaybackProgressView::kBlockColorScheme);
  ui_->itemProgressView->setDelegate(&controller);
  connectControls();
  controller.setView(this);
  placeNodeControls(controller.viewState().abRollOn, false);
}

PlaylistWindow::~PlaylistWindow() { detachController(); }

void PlaylistWindow::detachController() {
  if (!controller_) return;
  ui_->itemProgressView->setDelegate(nullptr);
  controller_->setView(nullptr);
  controller_ = nullptr;
}

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
  for (QToolButton* button : {ui_->skipToPreviousButton, ui_->stopButton, ui_->pauseButton, ui_->cueTransportButton,
                               ui_->playButton, ui_->skipToNextButton}) {
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(button, &QWidget::customContextMenuRequested, this, [this, button](const QPoint& at) {
      if (!controller_ || !controller_->contextualMenuForButton()) return;
      auto* menu = new QMenu(this);
      menu->setAttribute(Qt::WA_DeleteOnClose);
      connect(menu->addAction(tr("Enable Redundant Mode")), &QAction::triggered, this, [this] {
        if (controller_) controller_->enableSlaveMode();
      });
      menu->popup(button->mapToGlobal(at));
    });
  }
  forward(ui_->padLockButton, &PlaylistWindowController::padLockButtonPushed);
  forward(ui_->padUnlockButton, &PlaylistWindowController::padUnlockButtonPushed);

  const auto toggle = [this](QAbstractButton* button, void (PlaylistWindowController::*action)(bool)) {
    connect(button, &QAbstractButton::clicked, this, [this, action](bool on) {
      if (controller_) (controller_->*action)(on);
    });
  };
  toggle(ui_->chainButton, &PlaylistWindowController::chainButtonPushed);
  toggle(ui_->loopButton, &PlaylistWindowController::loopButtonPushed);
  toggle(ui_->cueButton, &PlaylistWindowController::cueModeButtonPushed);
  toggle(ui_->ABRollButton, &PlaylistWindowController::ABRollButtonPushed);
  toggle(ui_->showThumbnailsBox, &PlaylistWindowController::showThumbnailsPushed);

  for (NodePopUpButton* popUp : {ui_->nodeAPopUpButton, ui_->nodeBPopUpButton}) {
    popUp->setWillPopUpHandler([this] {
      if (controller_) controller_->populateNodePopUpButton();
    });
  }
  connect(ui_->nodeAPopUpButton, &QComboBox::activated, this, [this](int index) {
    if (controller_ && index >= 0) controller_->nodeAPopUpButtonPushed(static_cast<std::size_t>(index));
  });
  connect(ui_->nodeBPopUpButton, &QComboBox::activated, this, [this](int index) {
    if (controller_ && index >= 0) controller_->nodeBPopUpButtonPushed(static_cast<std::size_t>(index));
  });
}

void PlaylistWindow::showState(const PlaylistViewState& state) {
  setWindowTitle(qt(state.title) + QStringLiteral("[*]"));
  setWindowModified(state.edited);
  if (!shownOnce_ || state.rows != shown_.rows) table_->reloadData();
  if (!shownOnce_ || state.showThumbnails != shown_.showThumbnails) {
    ui_->showThumbnailsBox->setChecked(state.showThumbnails);
    table_->updateRowHeight();
  }
  table_->viewport()->update();
  if (state.rowToCentre) table_->scrollClipToCenter(*state.rowToCentre);

  showNodeControls(state);
  ui_->clipCountTextField->setText(qt(state.clipCountText));

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

  if (state.passwordPanel != shown_.passwordPanel) {
    if (state.passwordPanel.request == PasswordRequest::None) {
      passwordPanel_->hide();
    } else {
      passwordPanel_->present(state.passwordPanel, *this);
    }
  }
  const bool layoutChanged = shownOnce_ && state.abRollOn != shown_.abRollOn;
  const NodePopUpWidthsWanted wanted{double(ui_->nodeAPopUpButton->widthForSelectedName()),
                                     double(ui_->nodeBPopUpButton->widthForSelectedName())};
  const bool namesChanged = wanted.nodeA != popUpWidthsWanted_.nodeA || wanted.nodeB != popUpWidthsWanted_.nodeB;
  popUpWidthsWanted_ = wanted;
  shown_ = state;
  shownOnce_ = true;
  if (layoutChanged || namesChanged) placeNodeControls(state.abRollOn, layoutChanged && isVisible());
}

void PlaylistWindow::showNodeControls(const PlaylistViewState& state) {
  ui_->playbackControlSegmentedControl->setEnabled(state.transportEnabled);
  ui_->padLockButton->setEnabled(state.padLockEnabled);
  ui_->padUnlockButton->setEnabled(state.padUnlockEnabled);
  for (QToolButton* button : {ui_->chainButton, ui_->loopButton, ui_->cueButton}) button->setEnabled(state.settingsEnabled);
  ui_->chainButton->setChecked(state.chainOn);
  ui_->loopButton->setChecked(state.loopOn);
  ui_->cueButton->setChecked(state.cueModeOn);
  ui_->ABRollButton->setChecked(state.abRollOn);
  ui_->ABRollButton->setEnabled(state.nodeSelectorsEnabled);
  ui_->nodeAPopUpButton->showItems(state.nodeMenus.a, state.nodeMenus.selectedA);
  ui_->nodeBPopUpButton->showItems(state.nodeMenus.b, state.nodeMenus.selectedB);
  ui_->nodeAPopUpButton->setEnabled(state.nodeSelectorsEnabled);
  ui_->nodeBPopUpButton->setEnabled(state.nodeSelectorsEnabled);
  ui_->nodeAPopUpField->setText(qt(state.nodeAPopUpFieldTitle));
  ui_->nodeBPopUpField->setText(qt(state.nodeBPopUpFieldTitle));
}

// The pop-ups' labels travel with them.
void PlaylistWindow::placeNodeControls(bool abRoll, bool animated) {
  PlaylistNodeControlsFrames frames{layoutRect(ui_->nodeAPopUpButton->geometry()),
                                    layoutRect(ui_->pbControlView->geometry()),
                                    layoutRect(ui_->optionsContentView->geometry()),
                                    layoutRect(ui_->nodeBPopUpButton->geometry()), abRoll};
  frames = layoutNodeControls(frames, ui_->nodeControlsBar->width(), abRoll, popUpWidthsWanted_);
  ui_->nodeBPopUpField->setVisible(frames.nodeBFieldShown);
  const std::pair<QWidget*, LayoutRect> targets[] = {{ui_->nodeAPopUpButton, frames.nodeAPopUp},
                                                     {ui_->pbControlView, frames.pbControlView},
                                                     {ui_->optionsContentView, frames.optionsContentView},
                                                     {ui_->nodeBPopUpButton, frames.nodeBPopUp}};
  auto* group = animated ? new QParallelAnimationGroup(this) : nullptr;
  for (const auto& [widget, rect] : targets) {
    if (group) {
      auto* move = new QPropertyAnimation(widget, "geometry", group);
      move->setDuration(kLayoutAnimationMilliseconds);
      move->setEndValue(qtRect(rect));
      group->addAnimation(move);
    } else {
      widget->setGeometry(qtRect(rect));
    }
  }
  if (group) group->start(QAbstractAnimation::DeleteWhenStopped);
  const auto placeField = [](QWidget* field, const LayoutRect& popUp) {
    field->setGeometry(qRound(popUp.x), field->y(), qRound(popUp.width), field->height());
  };
  placeField(ui_->nodeAPopUpField, frames.nodeAPopUp);
  placeField(ui_->nodeBPopUpField, frames.nodeBPopUp);
}

void PlaylistWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeNodeControls(shown_.abRollOn, false);
}

void PlaylistWindow::setCurrentDocumentQuery(std::function<bool()> query) {
  if (controller_) controller_->setCurrentDocumentQuery(std::move(query));
}

void PlaylistWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::ActivationChange || !isActiveWindow()) return;
  if (becameKey_) becameKey_();
  if (controller_) controller_->windowDidBecomeKey();
}

void PlaylistWindow::revealClipsInMediaBrowser(const std::vector<std::string>& clipUniqueIDs) {
  if (mediaBrowserRevealer_) mediaBrowserRevealer_(clipUniqueIDs);
}

void PlaylistWindow::revealInFileManager(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::is_directory(path, error) ? path : path.parent_path();
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

// The start time of the last clicked row, to the second.
void PlaylistWindow::askAbsoluteStartTime(double currentStartTimeInSeconds) {
  auto* panel = new QDialog(this);
  panel->setObjectName("absoluteStartTimeWindow");
  panel->setWindowTitle(tr("Absolute Start Time"));
  panel->setAttribute(Qt::WA_DeleteOnClose);
  auto* field = new QTimeEdit(panel);
  field->setObjectName("absoluteStartTimeField");
  field->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  field->setTime(QTime(0, 0).addSecs(static_cast<int>(currentStartTimeInSeconds)));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, panel);
  auto* layout = new QVBoxLayout(panel);
  layout->addWidget(field);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, panel, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, panel, &QDialog::reject);
  connect(panel, &QDialog::accepted, this, [this, field] {
    if (controller_) controller_->setAbsoluteStartTimeOfLastClickedRow(QTime(0, 0).secsTo(field->time()));
  });
  panel->open();
}

std::optional<nodes::WindowFrame> PlaylistWindow::windowFrame() const {
  if (!isVisible()) return std::nullopt;
  const QRect frame = frameGeometry();
  return nodes::WindowFrame{static_cast<double>(frame.x()), static_cast<double>(frame.y()),
                            static_cast<double>(frame.width()), static_cast<double>(frame.height())};
}

void PlaylistWindow::closeEvent(QCloseEvent* event) {
  if (closeGuard_ && !closeGuard_()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
  if (event->isAccepted()) emit windowClosed();
}

}  // namespace app::views
