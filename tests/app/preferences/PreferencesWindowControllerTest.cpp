// The preferences window's decisions without a window: each control loads
// from and writes its default, the mode boxes keep each other consistent,
// the same node cannot be both defaults, typed numbers and node addresses
// are checked, and the node and GPI pop-ups follow their sources.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/preferences/PreferenceInputChecks.h"
#include "control/gpi/CVNTrelvaneController.h"
#include "control/gpi/GPIDeviceController.h"
#include "nodes/link/DataSource.h"
#include "tests/app/preferences/PreferencesFixture.h"

namespace app::preferences {
namespace {

using testing::ElementsAre;

TEST_F(PreferencesFixture, WindowLoadSetsEachControlFromItsDefault) {
  defaults.setObject(true, kAutoCueKey);
  defaults.setObject(2.5, kAutoCueDelayKey);
  defaults.setObject(30.0, kOfflineClipDefaultDurationKey);
  defaults.setObject(true, kChainModeKey);
  defaults.setObject(false, kCueModeKey);
  defaults.setObject(false, kShowThumbnailsKey);
  defaults.setObject("id-b", kDefaultNodeAUniqueIDKey);
  defaults.setObject(true, kTrelvaneTriggerAllDocumentsKey);
  defaults.setObject(std::int64_t{5}, kTrelvanePlayActionInputIndexKey);
  defaults.setObject(std::int64_t{3}, kTrelvanePlayingOutputIndexKey);
  load();

  EXPECT_EQ(controller->currentPaneTag(), kGeneralPaneTag);
  struct Row {
    const char* outlet;
    bool on;
    std::string text;
    bool enabled;
  };
  const Row rows[] = {
      {kAutoCueCheckButtonOutlet, true, "", true},   {kDelayTextFieldOutlet, false, "2.5", true},
      {kClipOfflineDurationOutlet, false, "30", true}, {kChainModeBoxOutlet, true, "", true},
      {kCueModeBoxOutlet, false, "", true},           {kShowThumbnailsBoxOutlet, false, "", true},
      {kTrelvaneTriggerAllDocumentsCheckBoxOutlet, true, "", true},
  };
  for (const Row& row : rows) {
    const ControlState& state = controller->control(row.outlet);
    EXPECT_EQ(state.on, row.on) << row.outlet;
    EXPECT_EQ(state.text, row.text) << row.outlet;
    EXPECT_EQ(state.enabled, row.enabled) << row.outlet;
  }
  EXPECT_FALSE(controller->showThumbnails());
  EXPECT_EQ(chosenTitle(kDefaultNodeAPopUpButtonOutlet), "Studio B");
  EXPECT_EQ(chosenTitle(kDefaultNodeBPopUpButtonOutlet), "<None>");
  // A hand-entered node without a name is listed by its address.
  EXPECT_THAT(titles(kDefaultNodeAPopUpButtonOutlet), ElementsAre("<None>", "Studio A", "Studio B", "10.0.0.3"));
  for (const TrelvaneIndexPopUp& gpi : kTrelvaneIndexPopUps) {
    const std::vector<std::string> items = titles(gpi.outlet);
    ASSERT_EQ(items.size(), gpi.isOutput ? 9u : 25u) << gpi.outlet;
    EXPECT_EQ(items.back(), gpi.isOutput ? "Out 8" : "In 24") << gpi.outlet;
  }
  EXPECT_EQ(chosenTitle("trelvanePlaySelectedClipPopUpButton"), "In 5");
  EXPECT_EQ(chosenTitle("trelvanePlayingPopUpButton"), "Out 3");
  EXPECT_EQ(chosenTitle("trelvaneStopPopUpButton"), "<None>");
}

TEST_F(PreferencesFixture, ModeBoxClickAppliesItsRuleAndWritesAllFour) {
  struct Row {
    const char* clicked;
    bool on;
    bool chain, loop, cue, abRoll;
  };
  // From all four on, a click in either direction.
  const Row rows[] = {
      {kChainModeBoxOutlet, true, true, true, false, false},  {kChainModeBoxOutlet, false, false, true, false, false},
      {kLoopModeBoxOutlet, true, true, true, false, false},   {kLoopModeBoxOutlet, false, true, false, false, false},
      {kCueModeBoxOutlet, true, false, false, true, true},    {kCueModeBoxOutlet, false, false, false, false, true},
      {kABRollBoxOutlet, true, false, false, true, true},     {kABRollBoxOutlet, false, false, false, true, false},
  };
  for (const Row& row : rows) {
    for (const char* key : {kChainModeKey, kLoopModeKey, kCueModeKey, kABRollKey}) defaults.setObject(true, key);
    load();
    controller->boxClicked(row.clicked, row.on);
    const std::string where = std::string(row.clicked) + (row.on ? " on" : " off");
    EXPECT_EQ(defaults.boolForKey(kChainModeKey), row.chain) << where;
    EXPECT_EQ(defaults.boolForKey(kLoopModeKey), row.loop) << where;
    EXPECT_EQ(defaults.boolForKey(kCueModeKey), row.cue) << where;
    EXPECT_EQ(defaults.boolForKey(kABRollKey), row.abRoll) << where;
    EXPECT_EQ(controller->control(kCueModeBoxOutlet).on, row.cue) << where;
    EXPECT_EQ(controller->control(kABRollBoxOutlet).on, row.abRoll) << where;
  }
}

TEST_F(PreferencesFixture, AutoCueEnablesTheDelayWhichIsWrittenWhenEditingBegins) {
  defaults.setObject(false, kAutoCueKey);
  load();
  EXPECT_FALSE(controller->control(kDelayTextFieldOutlet).enabled);
  controller->boxClicked(kAutoCueCheckButtonOutlet, true);
  EXPECT_TRUE(defaults.boolForKey(kAutoCueKey));
  EXPECT_TRUE(controller->control(kDelayTextFieldOutlet).enabled);
  controller->fieldTextChanged(kDelayTextFieldOutlet, "4");
  controller->fieldDidBeginEditing(kDelayTextFieldOutlet);
  EXPECT_EQ(defaults.doubleForKey(kAutoCueDelayKey), 4.0);
}

TEST_F(PreferencesFixture, NumberFieldsTakeFiniteValuesInRangeOnly) {
  defaults.setObject(2.0, kAutoCueDelayKey);
  defaults.setObject(10.0, kOfflineClipDefaultDurationKey);
  load();
  struct Row {
    const char* outlet;
    const char* typed;
    double stored;  // afterwards
    bool accepted;
  };
  const Row rows[] = {
      {kDelayTextFieldOutlet, "0", 0.0, true},
      {kDelayTextFieldOutlet, " 3600 ", 3600.0, true},
      {kDelayTextFieldOutlet, "3600.5", 3600.0, false},
      {kDelayTextFieldOutlet, "-1", 3600.0, false},
      {kDelayTextFieldOutlet, "nan", 3600.0, false},
      {kDelayTextFieldOutlet, "1e999", 3600.0, false},
      {kDelayTextFieldOutlet, "abc", 3600.0, false},
      {kDelayTextFieldOutlet, "", 3600.0, false},
      {kClipOfflineDurationOutlet, "0", 10.0, false},
      {kClipOfflineDurationOutlet, "0.04", 0.04, true},
      {kClipOfflineDurationOutlet, "86400", 86400.0, true},
      {kClipOfflineDurationOutlet, "86401", 86400.0, false},
      {kClipOfflineDurationOutlet, "inf", 86400.0, false},
      {kClipOfflineDurationOutlet, "5s", 86400.0, false},
  };
  for (const Row& row : rows) {
    controller->fieldTextChanged(row.outlet, row.typed);
    controller->fieldDidEndEditing(row.outlet);
    const char* key = row.outlet == std::string(kDelayTextFieldOutlet) ? kAutoCueDelayKey : kOfflineClipDefaultDurationKey;
    EXPECT_EQ(defaults.doubleForKey(key), row.stored) << row.outlet << " \"" << row.typed << "\"";
    // A refused value shows the stored one again.
    if (!row.accepted) {
      EXPECT_EQ(controller->control(row.outlet).text, secondsFieldText(row.stored)) << row.typed;
    }
  }
}

TEST_F(PreferencesFixture, SameNodeForAAndBWarnsAndShowsTheStoredNodeAgain) {
  defaults.setObject("id-a", kDefaultNodeAUniqueIDKey);
  defaults.setObject("id-b", kDefaultNodeBUniqueIDKey);
  load();
  controller->popUpChosen(kDefaultNodeBPopUpButtonOutlet, 1);  // Studio A, node A already
  ASSERT_EQ(alerts->alerts().size(), 1u);
  EXPECT_EQ(alerts->alerts()[0].title, kSameNodeWarningTitle);
  EXPECT_EQ(alerts->alerts()[0].message, kSameNodeWarningMessage);
  EXPECT_THAT(alerts->alerts()[0].buttonTitles, ElementsAre("OK"));
  EXPECT_EQ(defaults.stringForKey(kDefaultNodeBUniqueIDKey), "id-b");
  EXPECT_EQ(chosenTitle(kDefaultNodeBPopUpButtonOutlet), "Studio B");

  controller->popUpChosen(kDefaultNodeBPopUpButtonOutlet, 3);
  EXPECT_EQ(defaults.stringForKey(kDefaultNodeBUniqueIDKey), "id-c");
  // "<None>" on both sides is allowed and removes the keys.
  controller->popUpChosen(kDefaultNodeAPopUpButtonOutlet, 0);
  controller->popUpChosen(kDefaultNodeBPopUpButtonOutlet, 0);
  EXPECT_EQ(alerts->alerts().size(), 1u);
  EXPECT_FALSE(defaults.objectForKey(kDefaultNodeAUniqueIDKey).isString());
  EXPECT_FALSE(defaults.objectForKey(kDefaultNodeBUniqueIDKey).isString());
}

TEST_F(PreferencesFixture, NodeListChangeKeepsTheChosenNodes) {
  load();
  controller->popUpChosen(kDefaultNodeAPopUpButtonOutlet, 2);  // Studio B
  nodeSource.list.insert(nodeSource.list.begin(), PreferencesNode{"id-new", "Alpha", "10.0.0.9", true});
  nodeSource.list.pop_back();
  center.post(nodes::kNodeListDidChangeNotification);
  EXPECT_THAT(titles(kDefaultNodeAPopUpButtonOutlet), ElementsAre("<None>", "Alpha", "Studio A", "Studio B"));
  EXPECT_EQ(chosenTitle(kDefaultNodeAPopUpButtonOutlet), "Studio B");
  EXPECT_EQ(chosenTitle(kDefaultNodeBPopUpButtonOutlet), "<None>");
}

TEST_F(PreferencesFixture, StaticNodesListOnlyHandEnteredEntries) {
  defaults.setObject(
      platform::Array{
          platform::Dictionary{{"ipAdress", "10.1.1.1"}, {"portNumber", "5250"}, {"discoveredByNetServices", false}},
          platform::Dictionary{{"ipAdress", "10.1.1.2"}, {"portNumber", "5250"}, {"discoveredByNetServices", true}},
          platform::Dictionary{{"ipAdress", "10.1.1.3"}, {"portNumber", "5250"}},
          platform::Value("not a node")},
      nodes::kDiscoveredNodesKey);
  load();
  controller->changePanes(kStaticIPPaneTag);
  ASSERT_EQ(controller->staticNodeInfos().size(), 1u);
  EXPECT_EQ(controller->tableValue(kStaticIPTableViewOutlet, 0, "ipAdress"), platform::Value("10.1.1.1"));

  controller->tableSelectionChanged(kStaticIPTableViewOutlet, {0});
  EXPECT_TRUE(controller->control(kStaticIPSegmentedControlOutlet).enabled);
  controller->segmentClicked(kStaticIPSegmentedControlOutlet, kRemoveSegment);
  ASSERT_EQ(nodeSource.deleted.size(), 1u);
  EXPECT_EQ(nodeSource.deleted[0].ipAdress(), "10.1.1.1");
  EXPECT_TRUE(controller->staticNodeInfos().empty());
  EXPECT_FALSE(controller->control(kStaticIPSegmentedControlOutlet).enabled);
}

TEST_F(PreferencesFixture, StaticNodeAddressesAreCheckedBeforeAnythingIsStored) {
  load();
  controller->changePanes(kStaticIPPaneTag);
  static const std::string tooLong(kMaxHostNameLength + 1, 'a');
  struct Row {
    const char* address;
    const char* port;
    bool accepted;
  };
  const Row rows[] = {
      {"127.0.0.1", "5250", true}, {"::1", "1", true},           {"node-7.studio.lan", "65535", true},
      {"", "5250", false},         {"a b", "5250", false},        {"1.2.3.4.5", "5250", false},
      {"10.0.0.1", "0", false},    {"10.0.0.1", "65536", false},  {"10.0.0.1", "80x", false},
      {"10.0.0.1", "", false},     {"host_name", "80", false},    {"127.0.0.1", "5250", false},  // listed already
      {tooLong.c_str(), "80", false},
  };
  std::size_t stored = 0;
  for (const Row& row : rows) {
    controller->segmentClicked(kStaticIPSegmentedControlOutlet, kAddSegment);
    EXPECT_EQ(controller->control(kStaticIPTextFieldOutlet).text, "");
    controller->fieldTextChanged(kStaticIPTextFieldOutlet, row.address);
    controller->fieldTextChanged(kPortNumberTextFieldOutlet, row.port);
    EXPECT_EQ(controller->sheetDidEnd(kStaticIPPanelOutlet, kSheetOK), row.accepted) << row.address << " " << row.port;
    if (row.accepted) ++stored;
    EXPECT_EQ(nodeSource.created.size(), stored) << row.address << " " << row.port;
    EXPECT_EQ(controller->staticNodeInfos().size(), stored) << row.address << " " << row.port;
  }
  controller->segmentClicked(kStaticIPSegmentedControlOutlet, kAddSegment);
  controller->fieldTextChanged(kStaticIPTextFieldOutlet, "10.9.9.9");
  controller->fieldTextChanged(kPortNumberTextFieldOutlet, "80");
  EXPECT_TRUE(controller->sheetDidEnd(kStaticIPPanelOutlet, kSheetCancel));
  EXPECT_EQ(nodeSource.created.size(), stored);
}

TEST_F(PreferencesFixture, MediaFolderEquivalentsAreAddedEditedAndRemoved) {
  defaults.setObject(
      platform::Array{platform::Dictionary{
          {"nodeUniqueID", "id-b"},
          {"discoveredByNetServices", true},
          {"mediaFolders", platform::Array{platform::Dictionary{{"mediaFolderPath", "/media/news"},
                                                                {"mediaFolderUniqueID", "mf-news"}},
                                           platform::Dictionary{{"mediaFolderPath", "/media/sport"},
                                                                {"mediaFolderUniqueID", "mf-sport"}}}}}},
      nodes::kDiscoveredNodesKey);
  load();
  controller->changePanes(kMediaFoldersPaneTag);
  controller->segmentClicked(kMediaFolderEquivSegmentedControlOutlet, kAddSegment);
  EXPECT_THAT(titles(kNodesPopUpButtonOutlet), ElementsAre("Studio A", "Studio B", ""));
  EXPECT_TRUE(titles(kMediaPopUpButtonOutlet).empty()) << "Studio A has no saved folders";
  EXPECT_FALSE(controller->sheetDidEnd(kMediaFolderEquivalentPanelOutlet, kSheetOK)) << "nothing chosen";
  controller->popUpChosen(kNodesPopUpButtonOutlet, 1);
  EXPECT_THAT(titles(kMediaPopUpButtonOutlet), ElementsAre("/media/news", "/media/sport"));
  controller->popUpChosen(kMediaPopUpButtonOutlet, 1);
  controller->folderChosen("/mnt/sport");
  EXPECT_TRUE(controller->sheetDidEnd(kMediaFolderEquivalentPanelOutlet, kSheetOK));

  auto saved = nodes::MediaFolderLocalEquivalent::savedEquivalents(defaults);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].nodeName(), "Studio B");
  EXPECT_EQ(saved[0].nodeUniqueID(), "id-b");
  EXPECT_EQ(saved[0].mediaFolderPath(), "/media/sport");
  EXPECT_EQ(saved[0].mediaFolderUniqueID(), "mf-sport");
  EXPECT_EQ(saved[0].equivalentLocalPath(), "/mnt/sport");

  // A double click edits the row: the sheet shows it, OK replaces it.
  controller->tableDoubleClicked(kMediaFolderTableViewOutlet, std::nullopt);
  controller->tableDoubleClicked(kMediaFolderTableViewOutlet, 0);
  EXPECT_EQ(controller->control(kEquivalentLocalPathFieldOutlet).text, "/mnt/sport");
  EXPECT_EQ(chosenTitle(kNodesPopUpButtonOutlet), "Studio B");
  EXPECT_EQ(chosenTitle(kMediaPopUpButtonOutlet), "/media/sport");
  controller->fieldTextChanged(kEquivalentLocalPathFieldOutlet, "/srv/sport");
  EXPECT_TRUE(controller->sheetDidEnd(kMediaFolderEquivalentPanelOutlet, kSheetOK));
  saved = nodes::MediaFolderLocalEquivalent::savedEquivalents(defaults);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].equivalentLocalPath(), "/srv/sport");

  controller->tableSelectionChanged(kMediaFolderTableViewOutlet, {0});
  controller->segmentClicked(kMediaFolderEquivSegmentedControlOutlet, kRemoveSegment);
  EXPECT_TRUE(nodes::MediaFolderLocalEquivalent::savedEquivalents(defaults).empty());
}

TEST_F(PreferencesFixture, GPIBoxListFollowsBoxesAndKeepsTheStoredOne) {
  defaults.setObject("SER-OLD", kTrelvaneSerialNumberKey);
  boxSerials = {"SER-1"};
  load();
  EXPECT_THAT(titles(kTrelvanePopUpButtonOutlet), ElementsAre("<None>", "SER-1", "SER-OLD"));
  EXPECT_EQ(chosenTitle(kTrelvanePopUpButtonOutlet), "SER-OLD");

  boxSerials = {"SER-1", "SER-2"};
  center.post(control::kTrelvaneDeviceDidConnectNotification);
  EXPECT_THAT(titles(kTrelvanePopUpButtonOutlet), ElementsAre("<None>", "SER-1", "SER-2", "SER-OLD"));
  controller->popUpChosen(kTrelvanePopUpButtonOutlet, 2);
  EXPECT_EQ(defaults.stringForKey(kTrelvaneSerialNumberKey), "SER-2");
  boxSerials = {};
  center.post(control::kTrelvaneDeviceDidDisconnectNotification);
  EXPECT_THAT(titles(kTrelvanePopUpButtonOutlet), ElementsAre("<None>", "SER-2"));

  controller->popUpChosen("trelvaneSkipToNextPopUpButton", 24);
  controller->popUpChosen("trelvanePausedPopUpButton", 8);
  controller->popUpChosen("trelvanePausedPopUpButton", 9);  // past the end: ignored
  controller->boxClicked(kTrelvaneTriggerAllDocumentsCheckBoxOutlet, true);
  EXPECT_EQ(defaults.integerForKey(kTrelvaneSkipToNextActionInputIndexKey), 24);
  EXPECT_EQ(defaults.integerForKey(kTrelvanePausedOutputIndexKey), 8);
  EXPECT_TRUE(defaults.boolForKey(kTrelvaneTriggerAllDocumentsKey));
}

TEST_F(PreferencesFixture, ToolbarShowsPanesByTagOnly) {
  load();
  for (const PreferencesPane& pane : kPreferencesPanes) {
    controller->changePanes(pane.tag);
    EXPECT_EQ(controller->currentPaneTag(), pane.tag) << pane.identifier;
  }
  controller->changePanes(6);
  controller->changePanes(0);
  EXPECT_EQ(controller->currentPaneTag(), kTriggersPaneTag);
}

}  // namespace
}  // namespace app::preferences
