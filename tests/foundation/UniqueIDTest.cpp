// Unique IDs and the media-file identity hashes.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "foundation/FileUniqueIDHash.h"
#include "foundation/GenerateUniqueID.h"
#include "foundation/MediaIdentityHash.h"
#include "platform/PropertyList.h"
#include "tests/support/TemporaryDirectory.h"

namespace foundation {
namespace {

using namespace std::chrono;

const std::regex kIdentityHashForm("[A-Z0-9]{4}-[A-Z0-9]{4}-[A-Z0-9]{4}-[A-Z0-9]{4}-[A-Z0-9]{4}");

platform::Date dateOf(year_month_day day, hours h, minutes m = {}, seconds s = {}) {
  return platform::Date(sys_days{day} + h + m + s);
}

platform::Dictionary clipDictionary(const std::string& fileName) {
  platform::Dictionary dictionary;
  dictionary["filename"] = platform::Value(fileName);
  dictionary["fileSize"] = platform::Value(std::int64_t{1234567});
  dictionary["creationDate"] = platform::Value(dateOf(year{2024} / 3 / 1, hours{12}, minutes{34}, seconds{56}));
  dictionary["lastModificationDate"] = platform::Value(dateOf(year{2024} / 3 / 2, hours{1}));
  return dictionary;
}

TEST(UniqueID, IsAnUpperCaseVersion4UuidAndNeverRepeats) {
  const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = GenerateUniqueID::generateUniqueID();
    ASSERT_TRUE(std::regex_match(id, form)) << id;
    EXPECT_TRUE(seen.insert(id).second) << "repeated " << id;
  }
}

// The hashes below were computed outside this code base from the XML bytes
// shown (AES-128-CBC under MD5("7419") with a zero IV, SHA-1, mod 36), so they
// pin the whole computation that playout nodes repeat.
TEST(IdentityHash, MatchesIndependentlyComputedValues) {
  // The XML after its standard header and document type.
  const std::string expectedBody =
      "<plist version=\"1.0\">\n<dict>\n"
      "\t<key>creationDate</key>\n\t<date>2024-03-01T12:34:56Z</date>\n"
      "\t<key>fileSize</key>\n\t<integer>1234567</integer>\n"
      "\t<key>filename</key>\n\t<string>clip.mov</string>\n"
      "\t<key>lastModificationDate</key>\n\t<date>2024-03-02T01:00:00Z</date>\n"
      "</dict>\n</plist>\n";
  const std::string xml = platform::writePropertyList(platform::Value(clipDictionary("clip.mov"))).value();
  ASSERT_EQ(xml.size(), 413u) << xml;
  ASSERT_TRUE(xml.ends_with(expectedBody)) << xml;

  struct Case {
    const char* fileName;
    const char* hash;
  };
  const Case cases[] = {
      {"clip.mov", "XIQF-D9AK-Y93W-ZI15-J99Y"},     // 413 XML bytes: padded
      {"clip123.mov", "E48E-5C38-GSQ4-C6DB-W5BX"},  // 416 XML bytes: block-aligned, not padded
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cryptedHashStringWithDictionary(clipDictionary(c.fileName)), c.hash) << c.fileName;
  }
}

TEST(IdentityHash, IsStableAndSensitiveToEveryEntry) {
  const std::optional<std::string> hash = cryptedHashStringWithDictionary(clipDictionary("clip.mov"));
  ASSERT_TRUE(hash);
  EXPECT_EQ(hash->size(), kIdentityHashLength);
  EXPECT_TRUE(std::regex_match(*hash, kIdentityHashForm)) << *hash;
  EXPECT_EQ(cryptedHashStringWithDictionary(clipDictionary("clip.mov")), hash);

  platform::Dictionary resized = clipDictionary("clip.mov");
  resized["fileSize"] = platform::Value(std::int64_t{1234568});
  EXPECT_NE(cryptedHashStringWithDictionary(resized), hash);
}

TEST(IdentityHash, UnwritableDictionaryGivesNone) {
  platform::Dictionary dictionary;
  dictionary["nothing"] = platform::Value();  // none cannot be serialised
  EXPECT_FALSE(cryptedHashStringWithDictionary(dictionary));
}

class FileIdentityTest : public ::testing::Test {
 protected:
  std::filesystem::path writeFile(const std::filesystem::path& relative, const std::string& contents) {
    const std::filesystem::path path = folder_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }

  testing_support::TemporaryDirectory folder_;
};

TEST_F(FileIdentityTest, FileUniqueIDHashOfAFileEndsInZeros) {
  const std::filesystem::path clip = writeFile("clip.mov", "frames");
  const std::optional<std::string> hash = FileUniqueIDHash::hashStringForFileAtPath(clip);
  ASSERT_TRUE(hash);
  EXPECT_EQ(hash->size(), 29u);
  EXPECT_TRUE(std::regex_match(hash->substr(0, 24), kIdentityHashForm)) << *hash;
  EXPECT_EQ(hash->substr(24), "-0000");
  EXPECT_EQ(FileUniqueIDHash::hashStringForFileAtPath(clip), hash);

  EXPECT_FALSE(FileUniqueIDHash::hashStringForFileAtPath(folder_ / "missing.mov"));
}

TEST_F(FileIdentityTest, FileUniqueIDHashNeedsBothDatesAndTheSize) {
  FileItemAttributes complete;
  complete.name = "clip.mov";
  complete.modificationDate = dateOf(year{2024} / 3 / 2, hours{1});
  complete.creationDate = dateOf(year{2024} / 3 / 1, hours{12}, minutes{34}, seconds{56});
  complete.size = 1234567;
  EXPECT_EQ(FileUniqueIDHash::hashStringForAttributes(complete), "XIQF-D9AK-Y93W-ZI15-J99Y-0000");

  FileItemAttributes noCreation = complete;
  noCreation.creationDate.reset();
  FileItemAttributes noModification = complete;
  noModification.modificationDate.reset();
  FileItemAttributes noSize = complete;
  noSize.size.reset();
  for (const FileItemAttributes& attributes : {noCreation, noModification, noSize}) {
    EXPECT_FALSE(FileUniqueIDHash::hashStringForAttributes(attributes));
  }
}

TEST_F(FileIdentityTest, UrlHashesNeedReadableFiles) {
  const std::filesystem::path clip = writeFile("clip.mov", "frames");
  const std::optional<std::string> hash = GenerateUniqueID::hashStringForFileAtURL(clip);
  ASSERT_TRUE(hash);
  EXPECT_TRUE(std::regex_match(*hash, kIdentityHashForm)) << *hash;
  EXPECT_NE(hash, FileUniqueIDHash::hashStringForFileAtPath(clip)->substr(0, 24)) << "different dictionaries";

  EXPECT_FALSE(GenerateUniqueID::hashStringForFileAtURL({}));
  EXPECT_FALSE(GenerateUniqueID::hashStringForFileAtURL(folder_ / "missing.mov"));
  EXPECT_FALSE(GenerateUniqueID::hashStringForFileAtURLs({}));
  EXPECT_FALSE(GenerateUniqueID::hashStringForFileAtURLs({clip, folder_ / "missing.mov"}));
}

TEST_F(FileIdentityTest, UrlsHashKeyedByFileNameWithLaterNamesWinning) {
  const std::filesystem::path first = writeFile("a/clip.mov", "first");
  const std::filesystem::path second = writeFile("b/clip.mov", "second take");
  const std::filesystem::path other = writeFile("b/other.mov", "other");

  const std::optional<std::string> both = GenerateUniqueID::hashStringForFileAtURLs({first, second});
  ASSERT_TRUE(both);
  EXPECT_TRUE(std::regex_match(*both, kIdentityHashForm)) << *both;
  EXPECT_EQ(both, GenerateUniqueID::hashStringForFileAtURLs({second}));
  EXPECT_NE(both, GenerateUniqueID::hashStringForFileAtURLs({first}));
  EXPECT_NE(both, GenerateUniqueID::hashStringForFileAtURLs({second, other}));
}

}  // namespace
}  // namespace foundation
