// The clip preview pane's widgets on the offscreen platform: with the real
// session player view a test-pattern clip's first frame shows its colour
// bars; over a scripted player, keys pressed on the pane's controls reach the
// pane, a digit goes to the playhead field, and Escape in a timecode field
// puts its text back.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>

#include <fstream>

#include "app/preview/PlaylistClipPreviewItem.h"
#include "app/views/preview/ClipPreviewView.h"
#include "app/views/preview/SampleBufferDisplayWidget.h"
#include "media/readers/StandardAssetReaders.h"
#include "tests/app/preview/ClipPreviewFakes.h"
#include "tests/app/views/QtTestApplication.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace app::views {
namespace {

class ClipPreviewViewTest : public testing::Test {
 protected:
  ClipPreviewViewTest() {
    testing_support::qtTestApplication();
    media::registerStandardAssetReaders();
  }

  std::shared_ptr<ClipPreviewItem> clip(const std::filesystem::path& file) {
    nodes::PlaylistItemFields fields;
    fields.absolutePathToMediaItem = file.string();
    fields.mediaItemDurationInSeconds = 2.0;
    return std::make_shared<PlaylistClipPreviewItem>(std::make_shared<nodes::PlaylistItem>(std::move(fields)), defaults);
  }

  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults{""};
};

TEST_F(ClipPreviewViewTest, ATestPatternClipShowsItsBarsOnceLoaded) {
  const auto file = folder / "bars.mov";
  ASSERT_TRUE(testing_support::makeFileOnce(
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=640x360:rate=25:duration=2 -c:v libx264 -pix_fmt yuv420p",
      file));
  ClipPreviewView pane(defaults);
  pane.resize(640, 480);
  pane.show();
  pane.controller().setItem(clip(file));

  // Not played: the first frame shows once the clip is loaded. testsrc's top half is colour bars: a frame shows many colours, black shows one.
  const auto colours = [&] {
    QCoreApplication::processEvents();
    const QImage shot = pane.display().grab().toImage();
    QSet<QRgb> seen;
    for (int x = 0; x < shot.width(); x += 4) seen.insert(shot.pixel(x, shot.height() / 3));
    return seen.size();
  };
  EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return colours() > 5; }, "the first frame"));
  EXPECT_TRUE(pane.controller().playerView());
}

// The pane over a scripted player, with a clip at 0.4 s.
class ClipPreviewKeysTest : public ClipPreviewViewTest {
 protected:
  ClipPreviewKeysTest()
      : pane([this](media::SampleBufferDisplay*) {
          auto owned = std::make_unique<clip_preview_fakes::FakePlayerView>();
          player = owned.get();
          return owned;
        }, defaults) {
    std::ofstream(folder / "clip.mov") << "x";
    pane.resize(640, 480);
    pane.show();
    pane.controller().setItem(clip(folder / "clip.mov"));
    player->setCurrentSeconds(0.4);
  }

  template <typename T>
  T& child(const char* name) {
    return *pane.findChild<T*>(name);
  }

  clip_preview_fakes::FakePlayerView* player = nullptr;
  ClipPreviewView pane;
};

TEST_F(ClipPreviewKeysTest, KeysPressedOnThePanesControlsReachThePane) {
  QKeyEvent markIn(QEvent::KeyPress, Qt::Key_I, Qt::NoModifier, "i");
  QCoreApplication::sendEvent(&child<QWidget>("playPauseButton"), &markIn);
  EXPECT_EQ(child<QLineEdit>("inPointTextField").text(), "00:00:00:10");
  QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
  QCoreApplication::sendEvent(&child<QWidget>("positionSlider"), &space);
  EXPECT_EQ(player->toggles, 1);
  // In a timecode field the letters are typed, not taken.
  auto& in = child<QLineEdit>("inPointTextField");
  QKeyEvent letter(QEvent::KeyPress, Qt::Key_O, Qt::NoModifier, "o");
  QCoreApplication::sendEvent(&in, &letter);
  EXPECT_EQ(child<QLineEdit>("outPointTextField").text(), "00:00:02:00");
}

TEST_F(ClipPreviewKeysTest, ADigitIsTypedAfterThePlayheadTextAndReturnSeeksThere) {
  auto& position = child<QLineEdit>("currentPositionTextField");
  const QString before = position.text();
  QKeyEvent five(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, "5");
  QCoreApplication::sendEvent(&pane, &five);
  QCoreApplication::processEvents();
  EXPECT_EQ(position.text(), before + "=5");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(&position, &enter);
  ASSERT_EQ(player->seeks.size(), 1u);
  EXPECT_DOUBLE_EQ(player->seeks[0].seconds, 0.2);  // frame 5 at 25 fps
}

TEST_F(ClipPreviewKeysTest, EscapeInATimecodeFieldPutsBackItsText) {
  auto& out = child<QLineEdit>("outPointTextField");
  out.setFocus();
  QCoreApplication::processEvents();
  const QString before = out.text();
  out.setText("00:00:0");
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(&out, &escape);
  EXPECT_EQ(out.text(), before);
  EXPECT_FALSE(out.hasFocus());
}

}  // namespace
}  // namespace app::views
