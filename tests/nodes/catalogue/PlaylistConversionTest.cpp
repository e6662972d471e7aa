// Conversion of playlist document entries into catalogue clips: the older
// entry layout, the path cache, attributes and in and out points, skipped
// entries and what is handed back to the catalogue.

#include <gtest/gtest.h>

#include <map>

#include "nodes/media/ClipInfoKeys.h"
#include "nodes/catalogue/PlaylistConversion.h"

namespace nodes {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;

// Answers a clip for the paths it knows; records every question and store.
class FakeCatalogue final : public PlaylistConversionCatalogue {
 public:
  void addClip(const std::string& path, double durationInSeconds, Dictionary attributes = {}) {
    PlaylistItemFields fields;
    fields.uniqueID = "clip:" + path;
    fields.playbackUniqueID = "entry:" + path;
    fields.absolutePathToMediaItem = path;
    fields.mediaItemDurationInSeconds = durationInSeconds;
    fields.attributes = std::move(attributes);
    clips_[path] = fields;
  }

  std::shared_ptr<PlaylistItem> playlistItemWithNodeUniqueID(const std::string& nodeUniqueID,
                                                             const std::string& absolutePath,
                                                             const std::optional<std::string>& mediaItemUniqueID,
                                                             const std::optional<std::string>&) override {
    questions.push_back(nodeUniqueID + " " + absolutePath + " " + mediaItemUniqueID.value_or("-"));
    auto found = clips_.find(absolutePath);
    if (found == clips_.end()) return nullptr;
    return std::make_shared<PlaylistItem>(found->second);
  }
  void addOrUpdateClips(const std::vector<std::shared_ptr<PlaylistItem>>& clips) override { stored.push_back(clips); }

  std::vector<std::string> questions;
  std::vector<std::vector<std::shared_ptr<PlaylistItem>>> stored;

 private:
  std::map<std::string, PlaylistItemFields> clips_;
};

Dictionary currentDocument(std::vector<Value> entries) {
  Dictionary document{{"Document Settings", Value(Dictionary{{"PlaylistUniqueID", Value("PL-1")}})}};
  for (std::size_t i = 0; i < entries.size(); ++i) document[documentClipKey(static_cast<int>(i))] = entries[i];
  return document;
}

Value attributeOf(const PlaylistItem& item, const char* name) {
  return Value(item.attributes().value_or(Dictionary{}))[name];
}

TEST(PlaylistConversionTest, ConvertsOlderEntries) {
  struct Case {
    const char* name;
    Dictionary older;
    Dictionary expected;
  } cases[] = {
      {"empty entry",
       {},
       {{clipinfo::kHasInPoint, Value(false)},
        {clipinfo::kHasOutPoint, Value(false)},
        {clipinfo::kAttributes,
         Value(Dictionary{{"Clip End Behaviour", Value("Normal")}, {"Reverse Field Order", Value("Normal")}})}}},
      {"looping clip with points, logo off and volume",
       {{"File Path", Value("/media/a.mov")},
        {"Playback Mode", Value(4)},
        {"Should Overlay Logo", Value(false)},
        {"Reverse Field Order", Value(true)},
        {"In Point", Value(1.5)},
        {"Out Point", Value(9)},
        {"Volume", Value(0.25)}},
       {{clipinfo::kAbsolutePathToMediaItem, Value("/media/a.mov")},
        {clipinfo::kInPointInSeconds, Value(1.5)},
        {clipinfo::kHasInPoint, Value(true)},
        {clipinfo::kOutPointInSeconds, Value(9)},
        {clipinfo::kHasOutPoint, Value(true)},
        {clipinfo::kAttributes, Value(Dictionary{{"Clip End Behaviour", Value("Loop")},
                                                 {"Overlay Logo", Value("None")},
                                                 {"Reverse Field Order", Value("Reversed")},
                                                 {"Audio Volume", Value("0.2")}})}}},
      {"logo on, mode given as text, points not numbers",
       {{"Should Overlay Logo", Value(true)},
        {"Playback Mode", Value("4")},
        {"In Point", Value("3")},
        {"Out Point", Value(Array{})},
        {"Volume", Value("1.25")}},
       {{clipinfo::kHasInPoint, Value(false)},
        {clipinfo::kHasOutPoint, Value(false)},
        {clipinfo::kAttributes, Value(Dictionary{{"Clip End Behaviour", Value("Loop")},
                                                 {"Reverse Field Order", Value("Normal")},
                                                 {"Audio Volume", Value("1.2")}})}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Value(zrxlItemDictWithZRXVItemDict(c.older)), Value(c.expected));
  }
}

TEST(PlaylistConversionTest, OlderDocumentGivesLoopingClipWithoutZeroInPoint) {
  FakeCatalogue catalogue;
  catalogue.addClip("/media/a.mov", 20.0);
  const Dictionary document{
      {"Document Settings", Value(Dictionary{{"Loop", Value(true)}})},
      {"Clip 0", Value(Dictionary{{"File Path", Value("/media/a.mov")},
                                  {"Playback Mode", Value(4)},
                                  {"In Point", Value(0)},
                                  {"Out Point", Value(12.0)}})},
  };
  ASSERT_TRUE(isOlderPlaylistLayout(document));

  const auto items = playlistItemsArrayFromDict(document, "NODE-A", catalogue);

  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(attributeOf(*items[0], kClipEndBehaviourAttribute), Value("Loop"));
  EXPECT_FALSE(items[0]->hasInPoint());  // 0 is not after the start
  EXPECT_EQ(items[0]->outPointInSeconds(), 12.0);
  EXPECT_EQ(catalogue.questions, std::vector<std::string>{"NODE-A /media/a.mov -"});
}

TEST(PlaylistConversionTest, SamePathGivesCopiesOfOneClipAndStoresOnlyTheFirst) {
  FakeCatalogue catalogue;
  catalogue.addClip("/media/a.mov", 30.0);
  auto entry = [](double in, double out) {
    return Value(Dictionary{{clipinfo::kAbsolutePathToMediaItem, Value("/media/a.mov")},
                            {clipinfo::kInPointInSeconds, Value(in)},
                            {clipinfo::kHasInPoint, Value(true)},
                            {clipinfo::kOutPointInSeconds, Value(out)},
                            {clipinfo::kHasOutPoint, Value(true)}});
  };

  const auto items = playlistItemsArrayFromDict(currentDocument({entry(2, 10), entry(4, 20)}), "NODE-A", catalogue);

  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(catalogue.questions.size(), 1u);  // the second entry came from the cache
  EXPECT_EQ(items[0]->uniqueID(), items[1]->uniqueID());
  EXPECT_NE(items[0]->playbackUniqueID(), items[1]->playbackUniqueID());
  EXPECT_EQ(items[0]->inPointInSeconds(), 2.0);
  EXPECT_EQ(items[1]->inPointInSeconds(), 4.0);
  EXPECT_EQ(items[1]->outPointInSeconds(), 20.0);
  ASSERT_EQ(catalogue.stored.size(), 1u);
  ASSERT_EQ(catalogue.stored[0].size(), 1u);
  EXPECT_EQ(catalogue.stored[0][0], items[0]);
  EXPECT_EQ(catalogue.stored[0][0]->outPointInSeconds(), 10.0);
}

TEST(PlaylistConversionTest, SkipsUnusableEntriesAndStopsAtTheFirstMissingKey) {
  FakeCatalogue catalogue;
  catalogue.addClip("/media/a.mov", 30.0);
  catalogue.addClip("/media/b.mov", 30.0);
  Dictionary document = currentDocument({
      Value(Dictionary{{clipinfo::kAbsolutePathToMediaItem, Value("/media/unknown.mov")}}),
      Value("not an entry"),
      Value(Dictionary{{clipinfo::kAbsolutePathToMediaItem, Value(42)}}),
      Value(Dictionary{{clipinfo::kAbsolutePathToMediaItem, Value("/media/a.mov")}}),
  });
  document["Clip 5"] = Value(Dictionary{{clipinfo::kAbsolutePathToMediaItem, Value("/media/b.mov")}});

  const auto items = playlistItemsArrayFromDict(document, "NODE-A", catalogue);

  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]->absolutePathToMediaItem(), "/media/a.mov");
  ASSERT_EQ(catalogue.stored.size(), 1u);
  EXPECT_EQ(catalogue.stored[0].size(), 1u);

  FakeCatalogue empty;
  EXPECT_TRUE(playlistItemsArrayFromDict(currentDocument({}), "NODE-A", empty).empty());
  EXPECT_TRUE(empty.stored.empty());
}

TEST(PlaylistConversionTest, EntryAttributesWinAndPointsAreBoundedByTheFile) {
  FakeCatalogue catalogue;
  catalogue.addClip("/media/a.mov", 30.0, {{"Audio Volume", Value("0.5")}, {"Overlay Logo", Value("Top")}});
  catalogue.addClip("/media/b.mov", 30.0);
  const auto items = playlistItemsArrayFromDict(
      currentDocument({
          Value(Dictionary{{clipinfo::kAbsolutePathToMediaItem, Value("/media/a.mov")},
                           {clipinfo::kAttributes,
                            Value(Dictionary{{"Audio Volume", Value("0.8")}, {"Clip End Behaviour", Value("Rewind")}})},
                           {clipinfo::kOutPointInSeconds, Value(30.0)},  // not inside the file
                           {clipinfo::kHasOutPoint, Value(true)}}),
          Value(Dictionary{{clipinfo::kAbsolutePathToMediaItem, Value("/media/b.mov")},
                           {clipinfo::kAttributes, Value(Dictionary{{"Clip End Behaviour", Value("Hold Last Frame")}})},
                           {clipinfo::kInPointInSeconds, Value(5.0)},
                           {clipinfo::kHasInPoint, Value(false)}}),  // flag off: no point
      }),
      "NODE-A", catalogue);

  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->attributes(),
            std::optional<Dictionary>(Dictionary{{"Audio Volume", Value("0.8")}, {"Overlay Logo", Value("Top")}}));
  EXPECT_FALSE(items[0]->hasOutPoint());
  EXPECT_EQ(attributeOf(*items[1], kClipEndBehaviourAttribute), Value("Hold Last Frame"));
  EXPECT_FALSE(items[1]->hasInPoint());
}

}  // namespace
}  // namespace nodes
