// The catalogue's SQLite file: rows keep their values and types, writes only
// happen inside a transaction, and a refused row takes the whole transaction
// back with it.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "nodes/catalogue/ClipCatalogueStore.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

using namespace clipinfo;
using platform::Status;
using platform::Value;

// A row holding every Clip attribute.
CatalogueRow fullRow(const std::string& uniqueID) {
  return {
      {kUniqueID, Value(uniqueID)},
      {kNodeUniqueID, Value("node-1")},
      {kNodeName, Value("Studio")},
      {kMediaItemUniqueID, Value("ITEM-0000-0000-0000-0001-A")},
      {kMediaFolderUniqueID, Value("folder-1")},
      {kMediaFolderPath, Value("/media")},
      {kAbsolutePathToMediaItem, Value("/media/news/été.mov")},
      {kRelativePathToMediaItem, Value("/news/été.mov")},
      {kDisplayName, Value("News")},
      {kStartTimeCode, Value("10:00:00:00")},
      {kValidationStatus, Value(std::int64_t{3})},
      {kInvalidReason, Value(std::int64_t{-1})},
      {kOnline, Value(true)},
      {catalogue::kZira, Value(false)},
      {kFinderLabelIndex, Value(std::int64_t{6})},
      {kFinderLabelName, Value("Red")},
      {kFramesPerSecond, Value(29.97)},
      {kDropFrame, Value(true)},
      {kLastModificationDate, Value(platform::Date(std::chrono::microseconds(1'700'000'000'123'456)))},
      {kLastModificationDateString, Value("2023-11-14 22:13")},
      {catalogue::kVideoCodec, Value(std::int64_t{0x61766331})},
      {kVideoCodecDescription, Value("H.264")},
      {kLanguagesDescription, Value("en-fr")},
      {kNaturalVideoSizeWidth, Value(1920.0)},
      {kNaturalVideoSizeHeight, Value(1080.0)},
      {kDisplayVideoSizeWidth, Value(960.0)},
      {kDisplayVideoSizeHeight, Value(540.0)},
      {kDisplayVideoOriginX, Value(12.5)},
      {kDisplayVideoOriginY, Value(-4.0)},
      {kMediaFileDurationInSeconds, Value(61.5)},
      {kDurationInSeconds, Value(30.25)},
      {kHasInPoint, Value(true)},
      {kHasOutPoint, Value(false)},
      {kInPointInSeconds, Value(1.5)},
      {kOutPointInSeconds, Value(0.0)},
  };
}

class ClipCatalogueStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = ClipCatalogueStore::open(folder_ / "store.sql");
    ASSERT_TRUE(opened.ok()) << opened.error().describe();
    store_ = std::move(*opened);
  }

  Status insert(const CatalogueRow& row) {
    return store_->performTransaction([&] { return store_->insertClip(row); });
  }

  testing_support::TemporaryDirectory folder_;
  std::unique_ptr<ClipCatalogueStore> store_;
};

TEST_F(ClipCatalogueStoreTest, RowsKeepEveryValueAndTypeAcrossReopening) {
  const CatalogueRow row = fullRow("clip-1");
  ASSERT_TRUE(insert(row).ok());
  store_.reset();
  auto reopened = ClipCatalogueStore::open(folder_ / "store.sql");
  ASSERT_TRUE(reopened.ok()) << reopened.error().describe();
  auto rows = (*reopened)->fetchClips({});
  ASSERT_TRUE(rows.ok());
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_EQ(rows->front(), row);
}

TEST_F(ClipCatalogueStoreTest, MissingAttributesReadAsTheirEmptyValues) {
  ASSERT_TRUE(insert({{kUniqueID, Value("clip-1")}, {kDisplayName, Value()}}).ok());
  auto rows = store_->fetchClips({.uniqueID = "clip-1"});
  ASSERT_TRUE(rows.ok());
  ASSERT_EQ(rows->size(), 1u);
  const CatalogueRow& row = rows->front();
  EXPECT_EQ(row.at(kDisplayName), Value(""));
  EXPECT_EQ(row.at(kOnline), Value(false));
  EXPECT_EQ(row.at(kDurationInSeconds), Value(0.0));
  EXPECT_FALSE(row.count(kLastModificationDate));
  EXPECT_FALSE(row.count(catalogue::kVideoCodec));
}

TEST_F(ClipCatalogueStoreTest, WritesOutsideATransactionAreRefused) {
  const std::vector<std::pair<const char*, std::function<Status()>>> writes = {
      {"insertClip", [&] { return store_->insertClip(fullRow("clip-1")); }},
      {"updateClip",
       [&]() -> Status {
         auto r = store_->updateClip("clip-1", {{kOnline, Value(false)}});
         return r.ok() ? Status() : r.error();
       }},
      {"deleteClips",
       [&]() -> Status {
         auto r = store_->deleteClips({});
         return r.ok() ? Status() : r.error();
       }},
      {"setAttributes",
       [&] {
         return store_->setAttributes("clip-1", {{"a", Value("b")}});
       }},
      {"insertMetadata", [&] { return store_->insertMetadata({}); }},
  };
  for (const auto& [name, write] : writes) {
    SCOPED_TRACE(name);
    Status status = write();
    ASSERT_FALSE(status.ok());
    EXPECT_TRUE(status.error().is(kClipCatalogueErrorDomain, ClipCatalogueErrorCode::NotInTransaction));
  }
}

TEST_F(ClipCatalogueStoreTest, ARefusedRowTakesTheWholeTransactionBack) {
  ASSERT_TRUE(insert(fullRow("existing")).ok());
  struct Case {
    const char* name;
    std::function<void(CatalogueRow&)> spoil;
    ClipCatalogueErrorCode code;
  };
  const std::vector<Case> cases = {
      {"empty unique ID", [](CatalogueRow& r) { r[kUniqueID] = Value(""); },
       ClipCatalogueErrorCode::ConstraintViolated},
      {"no unique ID", [](CatalogueRow& r) { r.erase(kUniqueID); }, ClipCatalogueErrorCode::ConstraintViolated},
      {"taken unique ID", [](CatalogueRow& r) { r[kUniqueID] = Value("existing"); },
       ClipCatalogueErrorCode::ConstraintViolated},
      {"32-bit status out of range", [](CatalogueRow& r) { r[kValidationStatus] = Value(std::int64_t{1} << 31); },
       ClipCatalogueErrorCode::ConstraintViolated},
      {"text in a number", [](CatalogueRow& r) { r[kDurationInSeconds] = Value("long"); },
       ClipCatalogueErrorCode::WrongType},
      {"number in a text", [](CatalogueRow& r) { r[kDisplayName] = Value(5); }, ClipCatalogueErrorCode::WrongType},
      {"text in a flag", [](CatalogueRow& r) { r[kOnline] = Value("YES"); }, ClipCatalogueErrorCode::WrongType},
      {"array as a codec", [](CatalogueRow& r) { r[catalogue::kVideoCodec] = Value(platform::Array{}); },
       ClipCatalogueErrorCode::WrongType},
      {"unknown attribute", [](CatalogueRow& r) { r["clipInfoColour"] = Value("red"); },
       ClipCatalogueErrorCode::UnknownAttribute},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CatalogueRow bad = fullRow("bad");
    c.spoil(bad);
    Status status = store_->performTransaction([&]() -> Status {
      if (Status good = store_->insertClip(fullRow("good")); !good.ok()) return good;
      if (auto changed = store_->updateClip("existing", {{kDisplayName, Value("Changed")}}); !changed.ok()) {
        return changed.error();
      }
      return store_->insertClip(bad);
    });
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, static_cast<std::int64_t>(c.code)) << status.error().describe();
    EXPECT_EQ(*store_->countClips(), 1);
    EXPECT_EQ(store_->fetchClips({.uniqueID = "existing"})->front().at(kDisplayName), Value("News"));
  }
}

TEST_F(ClipCatalogueStoreTest, ANonDatabaseFileIsRefusedAndLeftAsItWas) {
  const auto file = folder_ / "notes.sql";
  const std::string contents(4096, 'x');
  std::ofstream(file, std::ios::binary) << contents;
  auto opened = ClipCatalogueStore::open(file);
  ASSERT_FALSE(opened.ok());
  EXPECT_TRUE(opened.error().is(kClipCatalogueErrorDomain, ClipCatalogueErrorCode::CannotOpen))
      << opened.error().describe();
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), contents);
}

}  // namespace
}  // namespace nodes
