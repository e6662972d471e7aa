#include "app/views/preview/ClipPreviewWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QMenuBar>

#include "app/preview/PlaylistClipPreviewItem.h"
#include "app/views/preview/ClipPreviewView.h"

namespace app::views {

ClipPreviewWindow::ClipPreviewWindow(platform::UserDefaults& defaults, QWidget* parent)
    : QMainWindow(parent), defaults_(defaults) {
  setWindowTitle(tr("Clip Preview"));
  pane_ = new ClipPreviewView(defaults_, this);
  pane_->controller().setDelegate(this);
  setCentralWidget(pane_);
  makeMenus();
  resize(800, 620);
  pane_->setFocus();
}

ClipPreviewWindow::~ClipPreviewWindow() { pane_->controller().setDelegate(nullptr); }

void ClipPreviewWindow::openFile(const std::filesystem::path& file) {
  nodes::PlaylistItemFields fields;
  fields.absolutePathToMediaItem = std::filesystem::absolute(file).lexically_normal().string();
  fields.displayName = file.filename().string();
  item_ = std::make_shared<nodes::PlaylistItem>(std::move(fields));
  // The window system adds the application's name after the title.
  setWindowTitle(QString::fromStdString(file.filename().string()));
  pane_->controller().setItem(std::make_shared<PlaylistClipPreviewItem>(item_, defaults_));
  pane_->setFocus();
}

void ClipPreviewWindow::itemDidInitialize() {
  const media::CVNPlayerView* player = pane_->controller().playerView();
  if (!player || !item_) return;
  const platform::media::MediaTime frame = player->itemFrameDuration();
  item_->update([&](nodes::PlaylistItemFields& fields) {
    fields.mediaItemDurationInSeconds = player->itemDuration();
    if (frame.isValid() && frame.value > 0) {
      fields.framesPerSecond = static_cast<double>(frame.timeScale) / static_cast<double>(frame.value);
    }
    fields.dropFrame = player->itemIsDropFrame();
  });
}

void ClipPreviewWindow::chooseFile() {
  const QString file = QFileDialog::getOpenFileName(this, tr("Open Media File"));
  if (!file.isEmpty()) openFile(file.toStdString());
}

void ClipPreviewWindow::makeMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&Open..."), QKeySequence::Open, this, [this] { chooseFile(); });
  file->addAction(tr("&Close"), QKeySequence::Close, this, [this] { close(); });
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence::Quit, qApp, &QApplication::closeAllWindows);

  // The pane takes these keys itself (typing in a field must still reach the
  // field); the menu names them and runs the same commands.
  ClipPreviewViewController& pane = pane_->controller();
  QMenu* playback = menuBar()->addMenu(tr("&Playback"));
  const auto item = [playback](const QString& title, const QString& key, std::function<void()> action) {
    QAction* entry = playback->addAction(title + '\t' + key);
    QObject::connect(entry, &QAction::triggered, playback, std::move(action));
  };
  item(tr("Play/Pause"), tr("Space"), [&pane] { pane.playPauseButtonAction(); });
  playback->addSeparator();
  item(tr("Mark In Point"), "I", [&pane] { pane.markInPoint(); });
  item(tr("Mark Out Point"), "O", [&pane] { pane.markOutPoint(); });
  item(tr("Go to In Point"), "Shift+I", [&pane] { pane.goInPoint(); });
  item(tr("Go to Out Point"), "Shift+O", [&pane] { pane.goOutPoint(); });
  item(tr("Clear In Point"), "Alt+I", [&pane] { pane.clearInPoint(); });
  item(tr("Clear Out Point"), "Alt+O", [&pane] { pane.clearOutPoint(); });
  playback->addSeparator();
  item(tr("Previous Frame"), tr("Left"), [&pane] {
    pane.handleKeyDownWithEvent({ClipPreviewKey::Kind::LeftArrow, "", false, false});
  });
  item(tr("Next Frame"), tr("Right"), [&pane] {
    pane.handleKeyDownWithEvent({ClipPreviewKey::Kind::RightArrow, "", false, false});
  });
}

}  // namespace app::views
