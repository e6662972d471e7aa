// The preferences window on the offscreen platform: each pane's controls,
// found by outlet name, write their defaults when used; the toolbar switches
// panes keeping the window's top edge; a refused node address keeps its
// sheet open with the reason.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>

#include "app/preferences/PreferenceInputChecks.h"
#include "app/views/preferences/PreferencesWindow.h"
#include "tests/app/preferences/PreferencesFixture.h"
#include "tests/app/views/QtTestApplication.h"

namespace app::views {
namespace {

using namespace app::preferences;

class PreferencesWindowTest : public PreferencesFixture {
 protected:
  PreferencesWindowTest() {
    testing_support::qtTestApplication();
    load();
    window = std::make_unique<PreferencesWindow>(*controller, [this]() -> QWidget* {
      ++triggersPanesMade;
      return new QLabel("Triggers pane");
    });
    controller->windowDidLoad();
    window->show();
  }
  ~PreferencesWindowTest() override { window.reset(); }

  template <typename T>
  T* find(const char* outlet) {
    T* widget = window->findChild<T*>(outlet);
    EXPECT_NE(widget, nullptr) << outlet;
    return widget;
  }
  void trigger(const char* pane) { find<QAction>(pane)->trigger(); }
  void type(const char* outlet, const QString& text) {
    QLineEdit* field = find<QLineEdit>(outlet);
    field->setText(text);
    emit field->textEdited(text);
    emit field->editingFinished();
  }
  void okSheet(const char* sheet) {
    find<QDialog>(sheet)->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  }

  std::unique_ptr<PreferencesWindow> window;
  int triggersPanesMade = 0;
};

TEST_F(PreferencesWindowTest, ClickingEachPanesControlsWritesTheirDefaults) {
  struct Box {
    const char* outlet;
    const char* key;
  };
  for (const Box& box : {Box{kAutoCueCheckButtonOutlet, kAutoCueKey}, Box{kShowThumbnailsBoxOutlet, kShowThumbnailsKey},
                         Box{kTrelvaneTriggerAllDocumentsCheckBoxOutlet, kTrelvaneTriggerAllDocumentsKey}}) {
    const bool before = defaults.boolForKey(box.key);
    find<QCheckBox>(box.outlet)->click();
    EXPECT_NE(defaults.boolForKey(box.key), before) << box.outlet;
    EXPECT_EQ(find<QCheckBox>(box.outlet)->isChecked(), !before) << box.outlet;
  }
  defaults.setObject(true, kChainModeKey);
  find<QCheckBox>(kABRollBoxOutlet)->click();
  EXPECT_TRUE(defaults.boolForKey(kABRollKey));
  EXPECT_TRUE(defaults.boolForKey(kCueModeKey));
  EXPECT_FALSE(defaults.boolForKey(kChainModeKey));
  EXPECT_TRUE(find<QCheckBox>(kCueModeBoxOutlet)->isChecked()) << "the window redraws the other boxes";

  find<QCheckBox>(kAutoCueCheckButtonOutlet)->setChecked(false);
  find<QCheckBox>(kAutoCueCheckButtonOutlet)->click();
  EXPECT_TRUE(find<QLineEdit>(kDelayTextFieldOutlet)->isEnabled());
  type(kDelayTextFieldOutlet, "7.5");
  EXPECT_EQ(defaults.doubleForKey(kAutoCueDelayKey), 7.5);
  type(kClipOfflineDurationOutlet, "forever");
  EXPECT_EQ(find<QLineEdit>(kClipOfflineDurationOutlet)->text().toStdString(),
            secondsFieldText(defaults.doubleForKey(kOfflineClipDefaultDurationKey)));

  QComboBox* nodeA = find<QComboBox>(kDefaultNodeAPopUpButtonOutlet);
  ASSERT_EQ(nodeA->count(), 4);
  emit nodeA->activated(2);
  EXPECT_EQ(defaults.stringForKey("defaultNodeAUniqueID"), "id-b");

  trigger("Trelvane");
  QComboBox* stop = find<QComboBox>("trelvaneStopPopUpButton");
  ASSERT_EQ(stop->count(), 25);
  emit stop->activated(12);
  EXPECT_EQ(defaults.integerForKey(kTrelvaneStopActionInputIndexKey), 12);
  QComboBox* playing = find<QComboBox>("trelvanePlayingPopUpButton");
  ASSERT_EQ(playing->count(), 9);
  emit playing->activated(8);
  EXPECT_EQ(defaults.integerForKey(kTrelvanePlayingOutputIndexKey), 8);
}

TEST_F(PreferencesWindowTest, ToolbarSwitchesPanesKeepingTheTopEdge) {
  trigger("Trelvane");
  window->move(120, 140);
  const int top = window->geometry().top();
  trigger("General");
  auto* stack = find<QStackedWidget>("emptyPanelView");
  EXPECT_EQ(stack->currentWidget()->objectName(), "generalPreferencesView");
  EXPECT_EQ(window->geometry().top(), top);
  EXPECT_GE(window->height(), stack->currentWidget()->minimumSizeHint().height());
  EXPECT_EQ(window->minimumSize(), window->sizeHint());

  trigger("Triggers");
  trigger("Static IP");
  trigger("Triggers");
  EXPECT_EQ(triggersPanesMade, 1) << "made once and kept";
  EXPECT_EQ(controller->currentPaneTag(), kTriggersPaneTag);
  EXPECT_TRUE(find<QAction>("Triggers")->isChecked());
  EXPECT_FALSE(find<QAction>("General")->isChecked());
}

TEST_F(PreferencesWindowTest, RefusedNodeAddressKeepsTheSheetOpenWithTheReason) {
  trigger("Static IP");
  find<QWidget>(kStaticIPSegmentedControlOutlet)->findChild<QToolButton*>("add")->click();
  auto* sheet = find<QDialog>(kStaticIPPanelOutlet);
  ASSERT_TRUE(sheet->isVisible());
  type(kStaticIPTextFieldOutlet, "127.0.0.1");
  type(kPortNumberTextFieldOutlet, "70000");
  okSheet(kStaticIPPanelOutlet);
  EXPECT_TRUE(sheet->isVisible());
  auto* problem = sheet->findChild<QLabel*>("problem");
  EXPECT_TRUE(problem->isVisible());
  EXPECT_TRUE(problem->text().contains("65535"));
  EXPECT_TRUE(nodeSource.created.empty());

  type(kPortNumberTextFieldOutlet, "5250");
  okSheet(kStaticIPPanelOutlet);
  EXPECT_FALSE(sheet->isVisible());
  ASSERT_EQ(nodeSource.created.size(), 1u);
  EXPECT_EQ(find<QTableView>(kStaticIPTableViewOutlet)->model()->rowCount(), 1);
}

TEST_F(PreferencesWindowTest, MetadataShowBoxAndRowDragWriteTheList) {
  auto* table = find<QTableView>(kMetadataTableViewOutlet);
  QAbstractItemModel* model = table->model();
  ASSERT_EQ(model->rowCount(), 3);
  ASSERT_TRUE(model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(defaults.dictionaryForKey(kMetadataShowDictKey)->at("artist"), platform::Value(true));

  QMimeData* dragged = model->mimeData({model->index(2, 1)});
  ASSERT_NE(dragged, nullptr);
  EXPECT_FALSE(model->dropMimeData(dragged, Qt::CopyAction, -1, -1, model->index(0, 0))) << "on a row";
  EXPECT_TRUE(model->dropMimeData(dragged, Qt::CopyAction, 0, 0, {}));
  delete dragged;
  EXPECT_EQ(model->data(model->index(0, 1), Qt::DisplayRole).toString(), "title");
  EXPECT_EQ(defaults.dictionaryForKey(kMetadataOrderDictKey)->at("0"), platform::Value("title"));
}

}  // namespace
}  // namespace app::views
