// The clip inspector's tool window on the offscreen platform: Alt, keys, panes.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QToolBar>

#include "app/views/inspector/ClipInspectorPanel.h"
#include "app/views/inspector/InOutPaneView.h"
#include "app/views/preview/ClipPreviewView.h"
#include "tests/app/inspector/InspectorFixture.h"
#include "tests/app/views/QtTestApplication.h"

namespace app::views {
namespace {

using inspector::testing::InspectorTest;

// Counts the key presses that reach a widget past the application's filters.
struct KeysSeen : QObject {
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) ++keys;
    return false;
  }
  int keys = 0;
};

class ClipInspectorPanelTest : public InspectorTest {
 protected:
  ClipInspectorPanelTest() { testing_support::qtTestApplication(); }
  void press(QWidget& target, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(type, key, modifiers);
    QCoreApplication::sendEvent(&target, &event);
  }
};

TEST_F(ClipInspectorPanelTest, IsAToolWindowWhoseAltKeyDownFollowsAlt) {
  ClipInspectorPanel panel(inspector, context.userDefaults);
  inspector.windowDidLoad();
  EXPECT_TRUE(panel.windowFlags().testFlag(Qt::Tool));
  EXPECT_EQ(panel.toolbar()->actions().size(), 4);
  QWidget& target = *panel.toolbar();
  press(target, QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
  EXPECT_TRUE(panel.altKeyDown());
  press(target, QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
  EXPECT_FALSE(panel.altKeyDown());
}

TEST_F(ClipInspectorPanelTest, KeysGoToTheInOutPaneAndAreTakenThere) {
  playlistWindowBecomesKey();
  selectRows({1});
  ClipInspectorPanel panel(inspector, context.userDefaults);
  inspector.windowDidLoad();
  inspector.changePanes(1);
  EXPECT_NE(panel.inOutPaneView().preview().controller().item(), nullptr);
  // The window takes "i" for the pane (the toolbar alone would ignore it);
  // Ctrl shortcuts stay with the menus.
  KeysSeen seen;
  panel.toolbar()->installEventFilter(&seen);
  QKeyEvent mark(QEvent::KeyPress, Qt::Key_I, Qt::NoModifier, "i");
  QCoreApplication::sendEvent(panel.toolbar(), &mark);
  EXPECT_EQ(seen.keys, 0);
  QKeyEvent undo(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier, "z");
  QCoreApplication::sendEvent(panel.toolbar(), &undo);
  EXPECT_EQ(seen.keys, 1);
}

}  // namespace
}  // namespace app::views
