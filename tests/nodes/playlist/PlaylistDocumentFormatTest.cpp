#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nodes/media/ClipInfoKeys.h"
#include "nodes/playlist/PlaylistDocumentFormat.h"

namespace nodes {
namespace {

constexpr std::string_view kPrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
// A processing instruction after the declaration: the same document, which
// only the general reader takes.
constexpr std::string_view kGeneralPrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<?editor mark?>\n";

const std::string kSettings =
    "<key>Document Settings</key><dict><key>Chain</key><true/>"
    "<key>PlaylistUniqueID</key><string>LIST-1</string></dict>";

std::string row(int index, const std::string& entries) {
  return "<key>Clip " + std::to_string(index) + "</key><dict>" + entries + "</dict>";
}

std::string entry(const std::string& key, const std::string& value) { return "<key>" + key + "</key>" + value; }

std::string name(const std::string& text) { return entry(clipinfo::kDisplayName, "<string>" + text + "</string>"); }
std::string playbackID(const std::string& id) {
  return entry(clipinfo::kPlaybackUniqueID, "<string>" + id + "</string>");
}
const std::string kNode = entry(clipinfo::kNodeName, "<string>Studio A</string>");

struct FileCase {
  const char* what;
  std::string root;  // the entries of the root dictionary
};

std::vector<FileCase> fileCases() {
  return {
      {"rows in order", row(0, kNode + name("one") + playbackID("P0")) + row(1, kNode + name("two") + playbackID("P1")) +
                            kSettings},
      {"a row whose keys are out of order and repeated (the last wins)",
       row(0, playbackID("P0") + name("first") + kNode + name("second") +
                  entry(clipinfo::kInPointInSeconds, "<real>2.5</real>") +
                  entry(clipinfo::kHasInPoint, "<true/>")) +
           kSettings},
      {"escaped keys and values",
       row(0, kNode + "<key>clipInfo&#68;isplayName</key><string>a &amp; b</string>" + playbackID("P0") +
                  "<key>x&lt;y</key><integer>1</integer>") +
           kSettings},
      {"a gap, an entry that is no dictionary, an empty row and an unknown key",
       row(0, kNode + playbackID("P0")) + "<key>Clip 1</key><string>not a row</string>" + "<key>Clip 3</key><dict/>" +
           "<key>Extra</key><integer>7</integer>" + kSettings},
      {"refused values and a repeated playback ID",
       row(0, kNode + playbackID("SAME") + entry(clipinfo::kInPointInSeconds, "<string>soon</string>")) +
           row(1, kNode + playbackID("SAME") + entry(clipinfo::kAttributes, "<array/>")) + kSettings},
      {"rows whose keys differ from the row before (a key more, a key less)",
       row(0, kNode + name("one") + playbackID("P0") + entry(clipinfo::kInPointInSeconds, "<real>1.5</real>")) +
           row(1, entry(clipinfo::kAbsolutePathToMediaItem, "<string>/media/b.mov</string>") + kNode +
                      playbackID("P1") + entry(clipinfo::kInPointInSeconds, "<real>2.5</real>")) +
           row(2, name("three") + entry(clipinfo::kOutPointInSeconds, "<real>9</real>")) +
           row(3, kNode + name("four") + playbackID("P3") + entry(clipinfo::kInPointInSeconds, "<real>4.5</real>")) +
           kSettings},
      {"settings of the wrong type",
       row(0, kNode + playbackID("P0")) +
           "<key>Document Settings</key><dict><key>Loop</key><string>yes</string>"
           "<key>ABRoll</key><false/></dict>"},
  };
}

std::string file(std::string_view prologue, const std::string& root) {
  return std::string(prologue) + "<plist version=\"1.0\">\n<dict>" + root + "</dict>\n</plist>\n";
}

// Row dictionaries without their playback IDs, which rows without one and
// repairs renew.
std::vector<platform::Dictionary> rowsOf(const PlaylistFileContents& contents) {
  std::vector<platform::Dictionary> rows;
  for (const auto& item : contents.items) {
    platform::Dictionary dictionary = item->dictionary();
    dictionary.erase(clipinfo::kPlaybackUniqueID);
    rows.push_back(std::move(dictionary));
  }
  return rows;
}

// Rows are read straight from the bytes when the file is in the plain form
// writers produce; every outcome must equal the general reader's.
TEST(PlaylistDocumentFormatTest, ReadsRowsStraightFromTheBytesAsTheGeneralReaderDoes) {
  for (const FileCase& c : fileCases()) {
    SCOPED_TRACE(c.what);
    platform::Result<PlaylistFileContents> plain = readPlaylistFile(file(kPrologue, c.root));
    platform::Result<PlaylistFileContents> general = readPlaylistFile(file(kGeneralPrologue, c.root));
    ASSERT_TRUE(plain.ok()) << plain.error().describe();
    ASSERT_TRUE(general.ok()) << general.error().describe();
    EXPECT_EQ(plain->settings.dictionary(), general->settings.dictionary());
    EXPECT_EQ(plain->isLegacy, general->isLegacy);
    EXPECT_EQ(plain->skipped, general->skipped);
    EXPECT_EQ(plain->repaired.size(), general->repaired.size());
    EXPECT_TRUE(rowsOf(*plain) == rowsOf(*general));
  }
}

TEST(PlaylistDocumentFormatTest, PlainFileCasesShowWhatTheyAreAbout) {
  // The table above must reach the paths it names, not only agree.
  platform::Result<PlaylistFileContents> repeated = readPlaylistFile(file(kPrologue, fileCases()[1].root));
  ASSERT_TRUE(repeated.ok());
  ASSERT_EQ(repeated->items.size(), 1u);
  EXPECT_EQ(repeated->items[0]->displayName(), "second");
  EXPECT_EQ(repeated->items[0]->inPointInSeconds(), 2.5);

  platform::Result<PlaylistFileContents> escaped = readPlaylistFile(file(kPrologue, fileCases()[2].root));
  ASSERT_TRUE(escaped.ok());
  ASSERT_EQ(escaped->items.size(), 1u);
  EXPECT_EQ(escaped->items[0]->displayName(), "a & b");

  platform::Result<PlaylistFileContents> gaps = readPlaylistFile(file(kPrologue, fileCases()[3].root));
  ASSERT_TRUE(gaps.ok());
  EXPECT_EQ(gaps->items.size(), 2u);
  EXPECT_EQ(gaps->skipped.size(), 3u);
}

TEST(PlaylistDocumentFormatTest, ARepeatedRootKeyReadsAsTheGeneralReaderHasIt) {
  // The later "Clip 0" wins, as in the dictionary the general reader builds.
  const std::string root = row(0, kNode + name("early") + playbackID("P0")) +
                           row(0, kNode + name("late") + playbackID("P0")) + kSettings;
  platform::Result<PlaylistFileContents> contents = readPlaylistFile(file(kPrologue, root));
  ASSERT_TRUE(contents.ok());
  ASSERT_EQ(contents->items.size(), 1u);
  EXPECT_EQ(contents->items[0]->displayName(), "late");
}

}  // namespace
}  // namespace nodes
