#include "app/views/countdown/CountDownWindow.h"

#include <utility>

#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

#include "app/views/playlist/PlaylistRowPaintData.h"
#include "platform/Bundle.h"
#include "platform/DispatchQueue.h"
#include "platform/Files.h"
#include "ui_CountDownWindow.h"

namespace app::views {
namespace {

constexpr const char* kTimeCountTypeTitles[] = {"Clip Remaining", "Clip Elapsed", "Block Remaining", "Block Elapsed",
                                                "Local Clock",    "Node Clock",   "Media Timecode"};
constexpr std::size_t kLargestImageFile = 1 << 20;

QColor colourOf(countdown::TimeCountColour colour) {
  QColor result;
  switch (colour) {
    case countdown::TimeCountColour::Red:
      result = QColor(255, 38, 0);
      break;
    case countdown::TimeCountColour::Orange:
      result = QColor(255, 147, 0);
      break;
    case countdown::TimeCountColour::Green:
      result = QColor(0, 249, 0);
      break;
    case countdown::TimeCountColour::White:
      result = QColor(Qt::white);
      break;
  }
  result.setAlphaF(countdown::kTimeCountAlpha);
  return result;
}

// A button image of the application's resources; none when it cannot be read.
QIcon resourceIcon(const std::string& fileName) {
  const std::filesystem::path name(fileName);
  const auto path = platform::Bundle::main()->pathForResource(name.stem().string(), name.extension().string().substr(1));
  if (!path) return {};
  const auto bytes = platform::readFile(*path, kLargestImageFile);
  if (!bytes.ok()) return {};
  const auto image = nodes::imageFromTiffData(platform::Data(bytes->begin(), bytes->end()));
  if (!image.ok()) return {};
  return QIcon(QPixmap::fromImage(imageFromRGBA(*image)));
}

void setTextColour(QLabel& label, const QColor& colour) {
  QPalette palette = label.palette();
  palette.setColor(QPalette::WindowText, colour);
  label.setPalette(palette);
}

}  // namespace

CountDownWindow::CountDownWindow(countdown::CountDownWindowController& controller)
    : controller_(controller), ui_(std::make_unique<Ui::CountDownWindow>()) {
  ui_->setupUi(this);
  setAttribute(Qt::WA_DeleteOnClose, false);
  menuBar_ = new QMenuBar(this);
  ui_->mainLayout->setMenuBar(menuBar_);
  for (QLabel* name : {ui_->currentClipDisplayNameField, ui_->nextClipDisplayNameField, ui_->nextClipLabel}) {
    setTextColour(*name, QColor(Qt::white));
    QFont font = name->font();
    font.setPointSize(18);
    name->setFont(font);
  }
  setTextColour(*ui_->timeCountField, QColor(Qt::white));
  QFont counter("Monospace");
  counter.setStyleHint(QFont::Monospace);
  counter.setBold(true);
  ui_->timeCountField->setFont(counter);
  ui_->timeCountField->installEventFilter(this);
  for (std::int32_t tag = 1; tag <= static_cast<std::int32_t>(std::size(kTimeCountTypeTitles)); ++tag) {
    ui_->timeCountTypePopUp->addItem(tr(kTimeCountTypeTitles[tag - 1]), tag);
  }
  ui_->toggleFullScreenButton->setIcon(resourceIcon(countdown::kEnterFullScreenImage));
  ui_->toggleFullScreenButton->setShortcut(QKeySequence::FullScreen);

  connect(ui_->timeCountTypePopUp, &QComboBox::activated, this, [this](int index) {
    controller_.timeCountTypePopUpPushed(ui_->timeCountTypePopUp->itemData(index).toInt());
    ui_->timeCountView->setFocus();
  });
  connect(ui_->nodeListPopUp, &QComboBox::activated, this, [this](int index) {
    if (index >= 0) controller_.nodeListPopUpPushed(static_cast<std::size_t>(index));
    ui_->timeCountView->setFocus();
  });
  connect(ui_->toggleFullScreenButton, &QToolButton::clicked, this, [this] { controller_.toogleFullScreen(); });
}

CountDownWindow::~CountDownWindow() = default;

void CountDownWindow::setTimeCount(const countdown::TimeCountDisplay& display) {
  const QString text = QString::fromStdString(display.text);
  const bool sameLength = text.size() == ui_->timeCountField->text().size();
  ui_->timeCountField->setText(text);
  setTextColour(*ui_->timeCountField, colourOf(display.colour));
  if (!sameLength) timeCountSizeDidChange();
}

void CountDownWindow::setClipNames(const std::string& current, const std::string& next) {
  ui_->currentClipDisplayNameField->setText(QString::fromStdString(current));
  ui_->nextClipDisplayNameField->setText(QString::fromStdString(next));
}

void CountDownWindow::setNodeList(const std::vector<countdown::NodeListItem>& items, std::size_t selected) {
  QComboBox& popUp = *ui_->nodeListPopUp;
  popUp.clear();
  for (const countdown::NodeListItem& item : items) {
    if (item.isSeparator) {
      popUp.insertSeparator(popUp.count());
      continue;
    }
    popUp.addItem(QString::fromStdString(item.title),
                  item.nodeUniqueID ? QVariant(QString::fromStdString(*item.nodeUniqueID)) : QVariant());
  }
  popUp.setCurrentIndex(static_cast<int>(selected));
}

void CountDownWindow::selectTimeCountType(std::int32_t type) {
  const int index = ui_->timeCountTypePopUp->findData(type);
  if (index >= 0) ui_->timeCountTypePopUp->setCurrentIndex(index);
}

WindowFrame CountDownWindow::frame() const {
  // A full-screen window is saved with the frame it goes back to.
  if (normalFrame_) return *normalFrame_;
  const QPoint corner = frameGeometry().topLeft();
  return {corner.x(), corner.y(), width(), height()};
}

void CountDownWindow::setFrame(const WindowFrame& frame) {
  QRect wanted(static_cast<int>(frame.x), static_cast<int>(frame.y), static_cast<int>(frame.w),
               static_cast<int>(frame.h));
  bool onScreen = false;
  for (const QScreen* screen : QGuiApplication::screens()) onScreen = onScreen || screen->geometry().intersects(wanted);
  if (!onScreen) {
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
      const QRect area = primary->availableGeometry();
      wanted.setSize(wanted.size().boundedTo(area.size()));
      wanted.moveTopLeft(area.topLeft());
    }
  }
  resize(wanted.size());
  move(wanted.topLeft());
}

void CountDownWindow::setFullScreen(bool fullScreen, const std::string& buttonImage) {
  // The pop-ups move down in full screen, clear of the screen's edge.
  ui_->mainLayout->setContentsMargins(0, fullScreen ? countdown::kTopViewFullScreenShift : 0, 0, 0);
  ui_->toggleFullScreenButton->setIcon(resourceIcon(buttonImage));
  if (fullScreen) {
    if (!normalFrame_) normalFrame_ = frame();
    // Without a window manager to honour the request, the window covers its screen itself.
    if (const QScreen* own = screen()) setGeometry(own->geometry());
    showFullScreen();
  } else {
    showNormal();
    if (normalFrame_) setFrame(*std::exchange(normalFrame_, std::nullopt));
  }
  raise();
  activateWindow();
}

void CountDownWindow::timeCountSizeDidChange() {
  QLabel& field = *ui_->timeCountField;
  const QString text = field.text();
  QFont font = field.font();
  timeCountSize_ = countdown::timeCountSize(field.width(), field.height(), [&](int size) {
    font.setPixelSize(size);
    const QFontMetricsF metrics(font);
    return countdown::TextSize{metrics.horizontalAdvance(text), metrics.height()};
  });
  font.setPixelSize(std::max(1, timeCountSize_));
  field.setFont(font);
}

void CountDownWindow::show() {
  QWidget::show();
  raise();
  activateWindow();
  ui_->timeCountView->setFocus();
}

void CountDownWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  frameChanged(false);
}

void CountDownWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  frameChanged(true);
}

bool CountDownWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->timeCountField && event->type() == QEvent::Resize) timeCountSizeDidChange();
  return QWidget::eventFilter(watched, event);
}

void CountDownWindow::frameChanged(bool resized) {
  if (!isVisible()) return;
  frameResized_ = frameResized_ || resized;
  frameSettle_ = platform::Timer::scheduled(platform::DispatchQueue::main(), kFrameSettleDelay,
                                            platform::Timer::Mode::OneShot, [this] {
                                              const bool wasResized = std::exchange(frameResized_, false);
                                              if (wasResized) {
                                                controller_.windowDidResize();
                                              } else {
                                                controller_.windowDidMove();
                                              }
                                            });
}

void CountDownWindow::closeEvent(QCloseEvent* event) {
  frameSettle_.reset();
  controller_.windowWillClose();
  QWidget::closeEvent(event);
}

}  // namespace app::views
