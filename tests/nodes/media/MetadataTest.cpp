// Clip metadata: rows from a node's metadata, display names from the shipped
// resource tables, archives.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "nodes/media/Metadata.h"
#include "nodes/media/MetadataFilter.h"
#include "nodes/media/MetadataResources.h"
#include "nodes/media/NodeModelErrors.h"
#include "platform/Bundle.h"
#include "platform/KeyedArchive.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;
using ::testing::IsEmpty;
using ::testing::Not;

// The resources as they ship, in the source tree (__FILE__ may be relative to
// the build folder when the compiler cache rewrites paths).
std::filesystem::path shippedResources() {
  return std::filesystem::path(VZ_SOURCE_DIR) / "nodes" / "media" / "resources";
}

// Makes the shipped resources (or another folder) the main bundle for one test.
class ScopedMainBundle {
 public:
  explicit ScopedMainBundle(const std::filesystem::path& folder) {
    platform::Bundle::setMainForTesting(std::make_shared<platform::Bundle>(folder));
  }
  ~ScopedMainBundle() { platform::Bundle::setMainForTesting(nullptr); }
};

Dictionary row(const char* type, const char* clipID, const char* key, const char* value) {
  return Dictionary{{"Type", type}, {"ClipInfoUniqueID", clipID}, {"Key", key}, {"Value", value}};
}

TEST(MetadataFilter, NodeMetadataBecomesOneRowPerKey) {
  const Dictionary nodeMetadata{
      {"Title", "News"},
      {"Rating", 3},
      {"Gain", 0.5},
      {"Live", true},
      {"Created", platform::Date(std::chrono::seconds(0))},
      {"Tags", Array{"a"}},
  };
  EXPECT_EQ(MetadataFilter::metadataDictArrayWithNodeMetadataDictionary(nodeMetadata, "CLIP-1"),
            (std::vector<Dictionary>{
                row("Unknow", "CLIP-1", "Created", "Unknow"),
                row("NSNumber", "CLIP-1", "Gain", "0.500000"),
                row("NSNumber", "CLIP-1", "Live", "1.000000"),
                row("NSNumber", "CLIP-1", "Rating", "3.000000"),
                row("Unknow", "CLIP-1", "Tags", "Unknow"),
                row("NSString", "CLIP-1", "Title", "News"),
            }));
  EXPECT_THAT(MetadataFilter::metadataDictArrayWithNodeMetadataDictionary({}, "CLIP-1"), IsEmpty());
}

TEST(MetadataFilter, DisplayNamesReplaceMappedKeys) {
  const MetadataNameTable names{{"title", "Title"}, {"artist", "Artist"}, {"author", "Artist"}};
  EXPECT_EQ(MetadataFilter::metaDataDictionaryWithDatabaseMetadataDictionary(
                Dictionary{{"title", "News"}, {"reel", "R1"}}, names),
            (Dictionary{{"Title", "News"}, {"reel", "R1"}}));
  // Two keys with one display name leave one entry: the later key's.
  EXPECT_EQ(MetadataFilter::metaDataDictionaryWithDatabaseMetadataDictionary(
                Dictionary{{"artist", "A"}, {"author", "B"}}, names),
            (Dictionary{{"Artist", "B"}}));
}

TEST(MetadataFilter, WithoutADisplayNameTableEveryKeyStays) {
  testing_support::TemporaryDirectory empty;
  ScopedMainBundle bundle(empty.path());
  const Dictionary metadata{{"title", "News"}};
  EXPECT_EQ(MetadataFilter::metaDataDictionaryWithDatabaseMetadataDictionary(metadata), metadata);
}

TEST(Metadata, NewMetadataAndRowsWithBadValues) {
  Metadata empty;
  EXPECT_EQ(empty.row(), row("", "", "", ""));
  EXPECT_EQ(empty.storedLabel(), "");

  Metadata metadata = Metadata::fromRow(row("NSString", "CLIP-1", "title", "News"));
  EXPECT_EQ(metadata.row(), row("NSString", "CLIP-1", "title", "News"));

  Metadata bad = Metadata::fromRow(Dictionary{{"Type", 3}, {"Key", "title"}, {"Value", Array{}}});
  EXPECT_EQ(bad.row(), row("", "", "title", ""));
}

TEST(Metadata, LabelComesFromTheDisplayNameTable) {
  const MetadataNameTable names{{"title", "Title"}};
  Metadata metadata;
  metadata.setKey("title");
  EXPECT_EQ(metadata.label(names), "Title");
  EXPECT_EQ(metadata.storedLabel(), "Title");
  metadata.setKey("unmapped");
  EXPECT_EQ(metadata.label(names), std::nullopt);
  metadata.setKey("");
  EXPECT_EQ(metadata.label(names), "");
}

TEST(Metadata, LabelReadsTheMainBundleAndIsNoneWithoutIt) {
  Metadata metadata;
  metadata.setKey("title");
  {
    ScopedMainBundle bundle(shippedResources());
    EXPECT_EQ(metadata.label(), "Title");
  }
  testing_support::TemporaryDirectory empty;
  ScopedMainBundle bundle(empty.path());
  EXPECT_EQ(metadata.label(), std::nullopt);
}

TEST(MetadataResources, ShippedTablesLoadAndAgree) {
  auto names = loadMetadataResource(kMetadataToDisplayNameResource, shippedResources());
  auto defaults = loadMetadataResource(kMetadataToDisplayNameDefaultResource, shippedResources());
  auto show = loadMetadataResource(kMetadataToShowResource, shippedResources());
  ASSERT_TRUE(names.ok()) << names.error().describe();
  ASSERT_TRUE(defaults.ok()) << defaults.error().describe();
  ASSERT_TRUE(show.ok()) << show.error().describe();

  const MetadataNameTable nameTable = metadataNameTable(*names);
  EXPECT_THAT(nameTable, Not(IsEmpty()));
  EXPECT_EQ(nameTable.size(), names->size());  // every entry is text
  EXPECT_EQ(metadataNameTable(*defaults), nameTable);
  const MetadataShowTable showTable = metadataShowTable(*show);
  EXPECT_EQ(showTable.size(), show->size());  // every entry is a boolean
  for (const auto& [key, shown] : showTable) EXPECT_TRUE(nameTable.contains(key)) << key;
}

TEST(MetadataResources, MissingAndMalformedResourcesAreErrors) {
  testing_support::TemporaryDirectory folder;
  auto write = [&](const char* name, const char* text) { std::ofstream(folder / name) << text; };
  write("MetadataToDisplayName.plist", "<plist version=\"1.0\"><array/></plist>");
  write("MetadataToShow.plist", "<plist><dict><key>a</key>");
  write("MetadataToDisplayNameDefault.plist",
        "<plist version=\"1.0\"><dict><key>a</key><string>A</string><key>b</key><integer>2</integer></dict></plist>");

  struct Case {
    const char* name;
    std::optional<NodeModelErrorCode> code;
  };
  const Case cases[] = {
      {kMetadataToDisplayNameResource, NodeModelErrorCode::ResourceMalformed},
      {kMetadataToShowResource, NodeModelErrorCode::ResourceMalformed},
      {"NoSuchTable", NodeModelErrorCode::ResourceMissing},
      {kMetadataToDisplayNameDefaultResource, std::nullopt},
  };
  for (const Case& c : cases) {
    auto loaded = loadMetadataResource(c.name, folder.path());
    EXPECT_EQ(loaded.ok(), !c.code) << c.name;
    if (c.code && !loaded.ok()) {
      EXPECT_TRUE(loaded.error().is(kNodeModelErrorDomain, *c.code)) << c.name;
    }
  }
  // The mistyped entry is dropped from the typed table.
  auto defaults = loadMetadataResource(kMetadataToDisplayNameDefaultResource, folder.path());
  ASSERT_TRUE(defaults.ok());
  EXPECT_EQ(metadataNameTable(*defaults), (MetadataNameTable{{"a", "A"}}));
  EXPECT_THAT(metadataDisplayNames(platform::Bundle(folder.path())), IsEmpty());
}

class MetadataArchive : public ::testing::Test {
 protected:
  void SetUp() override { Metadata::registerArchiveClass(registry_); }
  platform::KeyedArchiveRegistry registry_;
};

TEST_F(MetadataArchive, RoundTripsTheFourFieldsWithoutTheLabel) {
  Metadata metadata = Metadata::fromRow(row("NSNumber", "CLIP-1", "rating", "3.000000"));
  metadata.setLabel("Rating");
  platform::Result<std::string> bytes = platform::archivedData(metadata);
  ASSERT_TRUE(bytes.ok()) << bytes.error().describe();
  auto restored = platform::unarchiveAs<Metadata>(*bytes, registry_);
  ASSERT_TRUE(restored.ok()) << restored.error().describe();
  EXPECT_EQ(**restored, metadata);
  EXPECT_EQ((*restored)->storedLabel(), "");
}

TEST_F(MetadataArchive, MissingKeysReadEmptyAndMistypedKeysRefuse) {
  platform::Result<Value> archive = platform::archive(Metadata::fromRow(row("NSString", "C", "k", "v")));
  ASSERT_TRUE(archive.ok());
  Dictionary& top = *(*archive->dictionary())["$top"].dictionary();

  Value withoutValue = *archive;
  (*withoutValue.dictionary())["$top"].dictionary()->erase("Value");
  auto restored = platform::unarchiveAs<Metadata>(withoutValue, registry_);
  ASSERT_TRUE(restored.ok());
  EXPECT_EQ((*restored)->row(), row("NSString", "C", "k", ""));

  top["Key"] = 12;
  auto refused = platform::unarchiveAs<Metadata>(*archive, registry_);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().domain, platform::kKeyedArchiveErrorDomain);
}

}  // namespace
}  // namespace nodes
