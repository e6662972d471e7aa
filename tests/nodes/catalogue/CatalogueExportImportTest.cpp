// Export of the clip catalogue to an export folder and import back: the
// folder layout, progress, never touching what the export did not create,
// reported write failures, and imports that refuse bad folders and values
// without changing the catalogue.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <utility>

#include "nodes/catalogue/CatalogueExportFolder.h"
#include "nodes/catalogue/CatalogueTransfer.h"
#include "nodes/catalogue/CatalogueTransferErrors.h"
#include "nodes/catalogue/ClipCatalogue.h"
#include "nodes/catalogue/ClipCatalogueSchema.h"
#include "nodes/catalogue/ClipExportRecord.h"
#include "nodes/media/ClipInfoKeys.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

namespace fs = std::filesystem;
using platform::Array;
using platform::Dictionary;
using platform::Value;
using Progress = std::vector<std::pair<double, bool>>;

// Whole seconds: export files keep dates to the second.
const platform::Date kModified = platform::Date(std::chrono::sys_days{std::chrono::year{2021} / 6 / 30} +
                                                std::chrono::hours{14} + std::chrono::minutes{5});

// A row with a value of every kind.
CatalogueRow sampleRow(const std::string& uniqueID, const std::string& displayName) {
  using namespace clipinfo;
  return {{kUniqueID, Value(uniqueID)},
          {kNodeUniqueID, Value("NODE-A")},
          {kDisplayName, Value(displayName)},
          {kAbsolutePathToMediaItem, Value("/media/" + uniqueID + ".mov")},
          {kValidationStatus, Value(1)},
          {kFinderLabelIndex, Value(3)},
          {kOnline, Value(true)},
          {kFramesPerSecond, Value(29.97)},
          {kDisplayVideoSizeWidth, Value(1920.0)},
          {kInPointInSeconds, Value(1.25)},
          {kHasInPoint, Value(true)},
          {kLastModificationDate, Value(kModified)},
          {kLastModificationDateString, Value("2021-06-30 14:05")},
          {catalogue::kVideoCodec, Value(0x61706368)}};
}

std::string plistBytes(const Value& value) { return *platform::writePropertyList(value); }

void writeBytes(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::vector<fs::path> listing(const fs::path& folder) {
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// ---------------------------------------------------------------- the folder

TEST(CatalogueExportFolderTest, WritesTheLayoutWithProgressAndReadsItBack) {
  testing_support::TemporaryDirectory temp;
  const fs::path folder = temp / "Export";
  Progress progress;
  auto record = [&](double percent, bool indeterminate) { progress.emplace_back(percent, indeterminate); };

  ASSERT_TRUE(
      exportAllDataToFolder(folder, {sampleRow("A1", "News"), sampleRow("B2", "Weather")}, kModified, record).ok());

  EXPECT_EQ(progress, (Progress{{0, false}, {50, false}, {100, false}, {0, true}}));
  EXPECT_EQ(exportInfosFromFolder(folder), std::optional<Dictionary>(Dictionary{{"Creation Date", Value(kModified)}}));
  EXPECT_EQ(*platform::readPropertyListFile(folder / "Clips" / "version.plist"),
            Value(Dictionary{{"version", Value(100)}}));
  platform::Result<std::vector<CatalogueRow>> rows = readExportFolder(folder);
  ASSERT_TRUE(rows.ok()) << rows.error().describe();
  ASSERT_EQ(rows->size(), 2u);
  // Every attribute comes back; those the row lacked as their empty value.
  EXPECT_EQ((*rows)[1].size(), catalogue::clipAttributes().size());
  for (const auto& [key, value] : sampleRow("B2", "Weather")) EXPECT_EQ((*rows)[1].at(key), value) << key;
  EXPECT_EQ((*rows)[1].at(clipinfo::kNodeName), Value(""));
  EXPECT_EQ((*rows)[1].at(clipinfo::kDropFrame), Value(false));

  // An empty catalogue: an empty array, progress only at 0 and then open-ended.
  progress.clear();
  ASSERT_TRUE(exportAllDataToFolder(temp / "Empty", {}, kModified, record).ok());
  EXPECT_EQ(progress, (Progress{{0, false}, {0, true}}));
  EXPECT_EQ(*platform::readPropertyListFile(temp / "Empty" / "Clips" / "clips.plist"), Value(Array{}));
}

TEST(CatalogueExportFolderTest, NeverDeletesOrOverwritesWhatItDidNotCreate) {
  testing_support::TemporaryDirectory temp;
  const fs::path occupied = temp / "Documents";
  fs::create_directory(occupied);
  writeBytes(occupied / "notes.txt", "keep me");
  writeBytes(temp / "file", "a file");

  for (const fs::path& path : {occupied, temp / "file"}) {
    SCOPED_TRACE(path.string());
    platform::Status exported = exportAllDataToFolder(path, {sampleRow("A1", "News")}, kModified);
    ASSERT_FALSE(exported.ok());
    EXPECT_TRUE(exported.error().is(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ExportPathOccupied));
  }
  EXPECT_EQ(listing(temp.path()), (std::vector<fs::path>{temp / "Documents", occupied / "notes.txt", temp / "file"}));

  platform::Status noParent = exportAllDataToFolder(temp / "missing" / "Export", {}, kModified);
  ASSERT_FALSE(noParent.ok());
  EXPECT_TRUE(noParent.error().is(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ExportFolderUncreatable));
}

TEST(CatalogueExportFolderTest, ReportsAWriteFailureAndRemovesOnlyItsOwnFiles) {
  testing_support::TemporaryDirectory temp;
  const fs::path emptyFolder = temp / "Chosen";
  fs::create_directory(emptyFolder);
  // XML cannot carry this control character, so "clips.plist" cannot be written.
  const std::vector<CatalogueRow> rows = {sampleRow("A1", "News\x01")};

  for (const fs::path& path : {emptyFolder, temp / "New"}) {
    SCOPED_TRACE(path.string());
    platform::Status exported = exportAllDataToFolder(path, rows, kModified);
    ASSERT_FALSE(exported.ok());
    EXPECT_TRUE(exported.error().is(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ExportWriteFailed));
    EXPECT_EQ(exported.error().userInfo.at(kCatalogueTransferPathKey),
              Value((path / "Clips" / "clips.plist").string()));
  }
  // The folder that was there stays (empty); the one the export made is gone.
  EXPECT_EQ(listing(temp.path()), std::vector<fs::path>{emptyFolder});
}

TEST(CatalogueExportFolderTest, RefusesTruncatedOrMalformedFolders) {
  const Dictionary good = exportDictionaryFromClipRow(sampleRow("A1", "News"));
  auto withValue = [&](const char* key, Value value) {
    Dictionary clip = good;
    clip.insert_or_assign(key, std::move(value));
    return plistBytes(Value(Array{Value(good), Value(clip)}));
  };
  const std::string version100 = plistBytes(Value(Dictionary{{"version", Value(100)}}));
  const std::string goodClips = plistBytes(Value(Array{Value(good)}));
  using Code = CatalogueTransferErrorCode;
  struct Case {
    const char* name;
    std::optional<std::string> version;  // nullopt: no file
    std::optional<std::string> clips;
    Code code;
  } cases[] = {
      {"no version file", std::nullopt, goodClips, Code::ImportVersionMissing},
      {"truncated version file", version100.substr(0, version100.size() / 2), goodClips, Code::ImportVersionMissing},
      {"version 99", plistBytes(Value(Dictionary{{"version", Value(99)}})), goodClips, Code::ImportVersionUnsupported},
      {"version 101", plistBytes(Value(Dictionary{{"version", Value(101)}})), goodClips,
       Code::ImportVersionUnsupported},
      {"no clips file", version100, std::nullopt, Code::ImportClipsMalformed},
      {"truncated clips file", version100, goodClips.substr(0, goodClips.size() - 20), Code::ImportClipsMalformed},
      {"clips not an array", version100, plistBytes(Value(good)), Code::ImportClipsMalformed},
      {"clip not a dictionary", version100, plistBytes(Value(Array{Value(good), Value("clip")})),
       Code::ImportClipsMalformed},
      {"text in a number", version100, withValue(clipinfo::kFramesPerSecond, Value("25")), Code::ImportValueWrongType},
      {"text in a flag", version100, withValue(clipinfo::kOnline, Value("YES")), Code::ImportValueWrongType},
      {"text in a date", version100, withValue(clipinfo::kLastModificationDate, Value("2021-06-30")),
       Code::ImportValueWrongType},
      {"number in a text", version100, withValue(clipinfo::kDisplayName, Value(7)), Code::ImportValueWrongType},
      {"beyond 32 bits", version100, withValue(clipinfo::kValidationStatus, Value(std::int64_t{1} << 40)),
       Code::ImportValueWrongType},
      {"fraction in an integer", version100, withValue(clipinfo::kFinderLabelIndex, Value(2.5)),
       Code::ImportValueWrongType},
      {"array as codec", version100, withValue(catalogue::kVideoCodec, Value(Array{})), Code::ImportValueWrongType},
      {"no unique ID", version100, withValue(clipinfo::kUniqueID, Value("")), Code::ImportValueWrongType},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TemporaryDirectory folder;
    fs::create_directory(folder / "Clips");
    if (c.version) writeBytes(folder / "Clips" / "version.plist", *c.version);
    if (c.clips) writeBytes(folder / "Clips" / "clips.plist", *c.clips);

    platform::Result<std::vector<CatalogueRow>> rows = readExportFolder(folder.path());

    ASSERT_FALSE(rows.ok());
    EXPECT_TRUE(rows.error().is(kCatalogueTransferErrorDomain, c.code)) << rows.error().describe();
    if (c.code == Code::ImportValueWrongType) {
      EXPECT_EQ(rows.error().userInfo.at(kCatalogueTransferClipIndexKey), Value(1));
    }
  }
}

// ---------------------------------------------------------------- with the catalogue

class RecordingTransferDelegate final : public CatalogueTransferDelegate {
 public:
  void updateExportProgressIndicatorWithDoubleValue(double percent, bool indeterminate) override {
    progress.emplace_back(percent, indeterminate);
  }
  void stopImportProgressionPanelEndModalSession(bool) override { ++panelsClosed; }
  void showMessageVantelioWillQuit() override { ++quits; }

  Progress progress;
  int panelsClosed = 0;
  int quits = 0;
};

class CatalogueTransferTest : public ::testing::Test {
 protected:
  std::unique_ptr<ClipCatalogue> makeCatalogue(const fs::path& base) {
    ClipCatalogue::Options options;
    options.notificationCenter = &center_;
    options.bundleName = "Test";
    std::unique_ptr<ClipCatalogue> catalogue = ClipCatalogue::create(base, std::move(options));
    EXPECT_TRUE(catalogue->isEnabled());
    return catalogue;
  }

  static void insert(ClipCatalogue& catalogue, const std::vector<CatalogueRow>& rows) {
    ClipCatalogueStore& store = *catalogue.store();
    ASSERT_TRUE(store
                    .performTransaction([&]() -> platform::Status {
                      for (const CatalogueRow& row : rows) {
                        if (platform::Status inserted = store.insertClip(row); !inserted.ok()) return inserted;
                      }
                      return {};
                    })
                    .ok());
  }

  static std::vector<CatalogueRow> rowsOf(ClipCatalogue& catalogue) {
    ClipPredicate all;
    all.orderBy = ClipPredicate::Order::UniqueID;
    return *catalogue.store()->fetchClips(all);
  }

  platform::NotificationCenter center_;
  testing_support::TemporaryDirectory temp_;
  RecordingTransferDelegate delegate_;
};

TEST_F(CatalogueTransferTest, ExportThenImportRestoresEveryClip) {
  auto source = makeCatalogue(temp_ / "source");
  insert(*source, {sampleRow("A1", "News"), sampleRow("B2", "Weather")});
  CatalogueTransfer exporter(*source, &delegate_);
  ASSERT_TRUE(exporter.exportAllDataToFolder(temp_ / "Export").ok());
  EXPECT_EQ(delegate_.progress, (Progress{{0, false}, {50, false}, {100, false}, {0, true}}));
  EXPECT_EQ(exporter.exportProgressCounter(), 0.0);

  auto target = makeCatalogue(temp_ / "target");
  insert(*target, {sampleRow("A1", "Old name")});
  ClipCatalogueStore& store = *target->store();
  ASSERT_TRUE(store.performTransaction([&] {
                     return store.setAttributes("A1", {{"Audio Volume", Value("0.5")}});
                   })
                  .ok());
  CatalogueTransfer importer(*target, &delegate_);
  platform::Status imported = importer.importAllDataFromFolder(temp_ / "Export", false);

  ASSERT_TRUE(imported.ok()) << imported.error().describe();
  EXPECT_EQ(rowsOf(*target), rowsOf(*source));
  // The clip already there took the imported values and kept its attributes.
  EXPECT_EQ(target->attributesForClipWithUniqueID("A1"), (Dictionary{{"Audio Volume", Value("0.5")}}));
  EXPECT_EQ(delegate_.panelsClosed, 1);
  EXPECT_EQ(delegate_.quits, 1);
}

TEST_F(CatalogueTransferTest, EraseExistingKeepsOnlyTheImportedClips) {
  auto source = makeCatalogue(temp_ / "source");
  insert(*source, {sampleRow("A1", "News")});
  ASSERT_TRUE(CatalogueTransfer(*source, nullptr).exportAllDataToFolder(temp_ / "Export").ok());
  auto target = makeCatalogue(temp_ / "target");
  insert(*target, {sampleRow("Z9", "Local only")});

  ASSERT_TRUE(CatalogueTransfer(*target, nullptr).importAllDataFromFolder(temp_ / "Export", true).ok());

  EXPECT_EQ(rowsOf(*target), rowsOf(*source));
}

TEST_F(CatalogueTransferTest, FailedImportChangesNothingKeepsPendingWritesAndDoesNotQuit) {
  auto target = makeCatalogue(temp_ / "target");
  insert(*target, {sampleRow("A1", "News")});
  const std::vector<CatalogueRow> before = rowsOf(*target);
  target->removeClipsWithUniqueIDs({"A1"});
  target->markAllClipsAsOffline();
  const std::size_t pending = target->pendingOperationCount() + (target->isBusy() ? 1 : 0);
  ASSERT_GT(pending, 0u);

  // A valid new clip first, then one whose rate is text.
  const fs::path folder = temp_ / "Export";
  fs::create_directories(folder / "Clips");
  writeBytes(folder / "Clips" / "version.plist", plistBytes(Value(Dictionary{{"version", Value(100)}})));
  Dictionary bad = exportDictionaryFromClipRow(sampleRow("C3", "Sport"));
  bad[clipinfo::kFramesPerSecond] = Value("25");
  writeBytes(folder / "Clips" / "clips.plist",
             plistBytes(Value(Array{Value(exportDictionaryFromClipRow(sampleRow("B2", "Weather"))), Value(bad)})));

  platform::Status imported = CatalogueTransfer(*target, &delegate_).importAllDataFromFolder(folder, true);

  ASSERT_FALSE(imported.ok());
  EXPECT_TRUE(imported.error().is(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ImportValueWrongType));
  EXPECT_EQ(imported.error().userInfo.at(kCatalogueTransferKeyKey), Value(clipinfo::kFramesPerSecond));
  EXPECT_EQ(rowsOf(*target), before);
  EXPECT_EQ(target->pendingOperationCount() + (target->isBusy() ? 1 : 0), pending);
  EXPECT_EQ(delegate_.panelsClosed, 1);
  EXPECT_EQ(delegate_.quits, 0);
}

}  // namespace
}  // namespace nodes
