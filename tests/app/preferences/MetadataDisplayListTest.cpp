// The metadata display list: first-run and stored loading, show and hide,
// add and remove, row moves, restore, export and import. Every change the
// clip inspector must follow rewrites both defaults and is announced.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/preferences/MetadataRowDrag.h"
#include "platform/PropertyList.h"
#include "tests/app/preferences/PreferencesFixture.h"

namespace app::preferences {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

std::vector<std::string> keysOf(const platform::Array& entries) {
  std::vector<std::string> keys;
  for (const platform::Value& entry : entries) keys.push_back(entry["key"].stringOr("?"));
  return keys;
}

class MetadataListTest : public PreferencesFixture {
 protected:
  // Six entries "k0" ... "k5", stored in that order.
  void storeSixEntries() {
    platform::Dictionary order;
    for (int i = 0; i < 6; ++i) order[std::to_string(i)] = "k" + std::to_string(i);
    defaults.setObject(order, kMetadataOrderDictKey);
  }
  std::vector<std::string> storedOrder() const {
    const platform::Dictionary order = defaults.dictionaryForKey(kMetadataOrderDictKey).value_or(platform::Dictionary{});
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < order.size(); ++i) keys.push_back(order.at(std::to_string(i)).stringOr("?"));
    return keys;
  }
  MetadataDisplayList& list() { return controller->metadata(); }
};

TEST_F(MetadataListTest, FirstRunWritesTheOrderOnly) {
  load();
  EXPECT_THAT(keysOf(list().metadataArray()), ElementsAre("artist", "encoder", "title"));
  EXPECT_THAT(storedOrder(), ElementsAre("artist", "encoder", "title"));
  EXPECT_FALSE(defaults.objectForKey(kMetadataShowDictKey).isDictionary());
  EXPECT_EQ(list().metadataArray()[0], platform::Value(platform::Dictionary{
                                           {"key", "artist"}, {"description", "Artist"}, {"show", false}}));
  EXPECT_EQ(list().metadataArray()[2]["show"], platform::Value(true));
  EXPECT_EQ(metadataChanges, 0);
}

TEST_F(MetadataListTest, StoredListKeepsItsOrderAndShowValues) {
  defaults.setObject(platform::Dictionary{{"0", "title"}, {"1", "unknown"}, {"2", "artist"}}, kMetadataOrderDictKey);
  defaults.setObject(platform::Dictionary{{"title", false}, {"artist", true}}, kMetadataShowDictKey);
  load();
  EXPECT_THAT(keysOf(list().metadataArray()), ElementsAre("title", "unknown", "artist"));
  EXPECT_EQ(list().metadataArray()[1], platform::Value(platform::Dictionary{{"key", "unknown"}}));
  EXPECT_EQ(list().metadataArray()[2]["show"], platform::Value(true));
  EXPECT_EQ(controller->tableValue(kMetadataTableViewOutlet, 0, "description"), platform::Value("Title"));
  EXPECT_TRUE(controller->tableValue(kMetadataTableViewOutlet, 0, "").isNone());
}

TEST_F(MetadataListTest, HidingAnEntryWritesNoAndAnnouncesIt) {
  load();
  controller->setTableValue(kMetadataTableViewOutlet, 2, "show", false);
  EXPECT_EQ(defaults.dictionaryForKey(kMetadataShowDictKey)->at("title"), platform::Value(false));
  EXPECT_EQ(metadataChanges, 1);
  controller->setTableValue(kMetadataTableViewOutlet, 2, "description", "Name");
  EXPECT_EQ(list().metadataArray()[2]["description"], platform::Value("Name"));
  EXPECT_EQ(metadataChanges, 1);
}

TEST_F(MetadataListTest, AddSheetAnnouncesWhenOpenedAndStoresTheNewEntryAsHidden) {
  load();
  controller->segmentClicked(kMetadataSegmentedControlOutlet, kAddSegment);
  EXPECT_EQ(metadataChanges, 1) << "opening the sheet announces the list";
  EXPECT_TRUE(controller->sheetDidEnd(kMetadataPanelOutlet, kSheetCancel));
  EXPECT_EQ(list().metadataArray().size(), 3u);

  controller->segmentClicked(kMetadataSegmentedControlOutlet, kAddSegment);
  EXPECT_FALSE(controller->sheetDidEnd(kMetadataPanelOutlet, kSheetOK)) << "no key";
  controller->fieldTextChanged(kMetadataKeyTextFieldOutlet, "date");
  controller->fieldTextChanged(kMetadataDescritionTextFieldOutlet, "Date");
  EXPECT_TRUE(controller->sheetDidEnd(kMetadataPanelOutlet, kSheetOK));
  EXPECT_THAT(storedOrder(), ElementsAre("artist", "encoder", "title", "date"));
  EXPECT_EQ(defaults.dictionaryForKey(kMetadataShowDictKey)->at("date"), platform::Value(false));
  EXPECT_EQ(metadataChanges, 3);

  controller->tableSelectionChanged(kMetadataTableViewOutlet, {0, 3});
  controller->segmentClicked(kMetadataSegmentedControlOutlet, kRemoveSegment);
  EXPECT_THAT(storedOrder(), ElementsAre("encoder", "title"));
  EXPECT_EQ(defaults.dictionaryForKey(kMetadataShowDictKey)->size(), 2u);
  EXPECT_EQ(metadataChanges, 4);
  EXPECT_FALSE(controller->control(kMetadataSegmentedControlOutlet).enabled);
}

TEST_F(MetadataListTest, DroppedRowsMoveBetweenRowsAndBothListsAreRewritten) {
  struct Row {
    std::vector<std::size_t> dragged;
    std::size_t dropRow;
    std::vector<std::string> order;
  };
  const Row rows[] = {
      {{1, 2}, 5, {"k0", "k3", "k4", "k1", "k2", "k5"}},
      {{4}, 0, {"k4", "k0", "k1", "k2", "k3", "k5"}},
      {{0}, 6, {"k1", "k2", "k3", "k4", "k5", "k0"}},
      {{1, 5}, 3, {"k0", "k2", "k1", "k5", "k3", "k4"}},  // a selection on both sides of the drop
      {{2}, 2, {"k0", "k1", "k2", "k3", "k4", "k5"}},
  };
  for (const Row& row : rows) {
    storeSixEntries();
    defaults.removeObjectForKey(kMetadataShowDictKey);
    load();
    const int before = metadataChanges;
    platform::Result<std::string> dragged = archivedRowIndexes(row.dragged);
    ASSERT_TRUE(dragged.ok());
    EXPECT_TRUE(controller->acceptMetadataDrop(*dragged, row.dropRow)) << row.dropRow;
    EXPECT_THAT(storedOrder(), ElementsAreArray(row.order)) << "drop at " << row.dropRow;
    EXPECT_EQ(defaults.dictionaryForKey(kMetadataShowDictKey).value_or(platform::Dictionary{}).size(), 6u);
    EXPECT_EQ(metadataChanges, before + 1);
  }
  EXPECT_FALSE(controller->acceptMetadataDrop("not an archive", 0));
  EXPECT_TRUE(PreferencesWindowController::validateMetadataDrop(true, false));
  EXPECT_FALSE(PreferencesWindowController::validateMetadataDrop(true, true));
  EXPECT_FALSE(PreferencesWindowController::validateMetadataDrop(false, false));
}

TEST_F(MetadataListTest, RestoreAsksThenReplacesTheListAndAnnouncesIt) {
  storeSixEntries();
  load();
  alerts->queueResponse(foundation::kAlertFirstButtonReturn);  // Cancel
  controller->restoreMetadata();
  ASSERT_EQ(alerts->alerts().size(), 1u);
  EXPECT_EQ(alerts->alerts()[0].title, kRestoreMetadataTitle);
  EXPECT_EQ(alerts->alerts()[0].message, kRestoreMetadataMessage);
  EXPECT_THAT(alerts->alerts()[0].buttonTitles, ElementsAre("Cancel", "Restore"));
  EXPECT_EQ(storedOrder().size(), 6u);
  EXPECT_EQ(metadataChanges, 0);

  alerts->queueResponse(foundation::kAlertSecondButtonReturn);
  controller->restoreMetadata();
  EXPECT_THAT(storedOrder(), ElementsAre("comment", "title"));
  EXPECT_EQ(*defaults.dictionaryForKey(kMetadataShowDictKey),
            (platform::Dictionary{{"comment", false}, {"title", false}}));
  EXPECT_EQ(metadataChanges, 1);
}

TEST_F(MetadataListTest, ExportedListImportsBackAndHostileFilesChangeNothing) {
  load();
  controller->setTableValue(kMetadataTableViewOutlet, 0, "show", true);
  const std::filesystem::path exported = home / "list.plist";
  controller->exportMetadata(exported);
  const platform::Array saved = list().metadataArray();

  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(home / name, std::ios::binary) << bytes;
    return home / name;
  };
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">";
  struct Row {
    const char* what;
    std::filesystem::path path;
  };
  const Row hostile[] = {
      {"missing", home / "absent.plist"},
      {"not a property list", write("text.plist", "key=title\n")},
      {"truncated", write("cut.plist", head + "<array><dict><key>key</key>")},
      {"a dictionary", write("dict.plist", head + "<dict><key>key</key><string>x</string></dict></plist>")},
      {"an entry that is text", write("text-entry.plist", head + "<array><string>title</string></array></plist>")},
      {"an entry without key", write("no-key.plist", head + "<array><dict><key>show</key><true/></dict></array></plist>")},
      {"a key that is a number",
       write("number-key.plist", head + "<array><dict><key>key</key><integer>3</integer></dict></array></plist>")},
      {"larger than 1 MiB", write("large.plist", head + "<array>" + std::string(kMaxMetadataImportBytes, ' ') +
                                                      "</array></plist>")},
  };
  const int before = metadataChanges;
  for (const Row& row : hostile) {
    const std::size_t alertsBefore = alerts->alerts().size();
    controller->importMetadata(row.path);
    ASSERT_EQ(alerts->alerts().size(), alertsBefore + 1) << row.what;
    EXPECT_EQ(alerts->alerts().back().title, kMetadataImportFailedTitle) << row.what;
    EXPECT_EQ(list().metadataArray(), saved) << row.what;
  }
  EXPECT_EQ(metadataChanges, before);

  controller->importMetadata(write("other.plist", head + "<array><dict><key>key</key><string>date</string>"
                                                         "<key>extra</key><data>AAAA</data></dict></array></plist>"));
  EXPECT_THAT(storedOrder(), ElementsAre("date"));
  EXPECT_EQ(list().metadataArray()[0], platform::Value(platform::Dictionary{{"key", "date"}}));
  controller->importMetadata(exported);
  EXPECT_EQ(list().metadataArray(), saved);
  EXPECT_THAT(storedOrder(), ElementsAre("artist", "encoder", "title"));
  EXPECT_EQ(defaults.dictionaryForKey(kMetadataShowDictKey)->at("artist"), platform::Value(true));
  EXPECT_EQ(metadataChanges, before + 2);
}

}  // namespace
}  // namespace app::preferences
