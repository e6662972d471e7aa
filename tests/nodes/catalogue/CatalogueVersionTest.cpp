// The catalogue's version files and the start-up version check: which stored
// versions pass, reset or refuse the catalogue, and that a refused catalogue
// is left exactly as it was.

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "foundation/AlertPresenter.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/catalogue/CatalogueCompatibilityCheck.h"
#include "nodes/catalogue/CatalogueTransferErrors.h"
#include "nodes/catalogue/CatalogueVersionFiles.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

constexpr const char* kRunningVersion = "5.3";

std::string plistWithVersion(const std::string& valueElement) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>version</key>\n\t" +
         valueElement + "\n</dict>\n</plist>\n";
}

std::optional<std::string> readBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

using platform::Result;

class CatalogueVersionTest : public ::testing::Test {
 protected:
  testing_support::TemporaryDirectory folder_;
  CatalogueVersionFiles files_{folder_.path(), kRunningVersion};
};

TEST_F(CatalogueVersionTest, StartUpCheckPassesResetsOrRefusesByStoredVersion) {
  struct Case {
    const char* name;
    std::optional<std::string> mediaFile;    // nullopt: no file
    std::optional<std::string> managerFile;  // nullopt: no file
    CatalogueCompatibility outcome;
    int resets;
    std::string alertMessage;  // "" when no alert is expected
    bool keptAside = false;    // the media version file was unreadable: kept aside and written again
  } cases[] = {
      {"missing", std::nullopt, std::nullopt, CatalogueCompatibility::Compatible, 0, ""},
      {"100", plistWithVersion("<integer>100</integer>"), plistWithVersion("<string>5.0</string>"),
       CatalogueCompatibility::ResetFromOlder, 1, ""},
      {"no version key reads as 0", "<plist version=\"1.0\"><dict/></plist>", std::nullopt,
       CatalogueCompatibility::ResetFromOlder, 1, ""},
      {"101", plistWithVersion("<integer>101</integer>"), plistWithVersion("<string>5.0</string>"),
       CatalogueCompatibility::Compatible, 0, ""},
      {"102", plistWithVersion("<integer>102</integer>"), plistWithVersion("<string>5.2</string>"),
       CatalogueCompatibility::RefusedNewer, 0,
       "The clip database on this computer is not compatible with this version of Vantelio Vovi.\n"
       "You should use Vantelio Vovi 5.2 or later."},
      {"102 without manager version", plistWithVersion("<integer>250</integer>"), std::nullopt,
       CatalogueCompatibility::RefusedNewer, 0,
       "The clip database on this computer is not compatible with this version of Vantelio Vovi.\n"
       "You should use Vantelio Vovi (unknown) or later."},
      // An unreadable file once kept the application from starting at all.
      {"garbage", std::string("\x01\x02not a property list", 22), plistWithVersion("<string>5.2</string>"),
       CatalogueCompatibility::Compatible, 0, "", true},
      {"truncated", plistWithVersion("<integer>101</integer>").substr(0, 60), std::nullopt,
       CatalogueCompatibility::Compatible, 0, "", true},
      {"version is text", plistWithVersion("<string>101</string>"), std::nullopt, CatalogueCompatibility::Compatible,
       0, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TemporaryDirectory folder;
    CatalogueVersionFiles files(folder.path(), kRunningVersion);
    auto presenter = std::make_shared<foundation::RecordingAlertPresenter>();
    foundation::ScopedAlertPresenter scoped(presenter);
    if (c.mediaFile) writeBytes(files.mediaDatabaseVersionPath(), *c.mediaFile);
    if (c.managerFile) writeBytes(files.managerVersionPath(), *c.managerFile);
    int resets = 0;
    int terminations = 0;

    EXPECT_EQ(checkCatalogueCompatibility(files, {[&] { ++resets; }, [&] { ++terminations; }}), c.outcome);

    EXPECT_EQ(resets, c.resets);
    const bool refused =
        c.outcome == CatalogueCompatibility::RefusedNewer || c.outcome == CatalogueCompatibility::RefusedUnreadable;
    EXPECT_EQ(terminations, refused ? 1 : 0);
    const std::vector<foundation::AlertRequest> alerts = presenter->alerts();
    if (c.alertMessage.empty()) {
      EXPECT_TRUE(alerts.empty());
    } else {
      ASSERT_EQ(alerts.size(), 1u);
      EXPECT_EQ(alerts[0].style, foundation::AlertStyle::Warning);
      EXPECT_EQ(alerts[0].title, "Database Not Compatible Error !");
      EXPECT_NE(alerts[0].message.find(c.alertMessage), std::string::npos) << alerts[0].message;
      EXPECT_EQ(alerts[0].buttonTitles, std::vector<std::string>{"Quit Vantelio Vovi"});
    }
    if (c.keptAside) {
      std::vector<std::string> kept;
      for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        if (entry.path().filename().string().starts_with("MediaDatabaseVersion.plist.corrupt-"))
          kept.push_back(*readBytes(entry.path()));
      }
      EXPECT_EQ(kept, std::vector<std::string>{*c.mediaFile});
    }
    if (refused) {
      // Nothing of a catalogue it cannot open is rewritten.
      EXPECT_EQ(readBytes(files.mediaDatabaseVersionPath()), c.mediaFile);
      EXPECT_EQ(readBytes(files.managerVersionPath()), c.managerFile);
    } else {
      Result<std::optional<std::int64_t>> media = files.storedMediaDatabaseVersion();
      ASSERT_TRUE(media.ok());
      EXPECT_EQ(*media, std::optional<std::int64_t>(101));
      Result<std::optional<std::string>> manager = files.storedManagerVersion();
      ASSERT_TRUE(manager.ok());
      EXPECT_EQ(*manager, std::optional<std::string>(kRunningVersion));
    }
  }
}

TEST_F(CatalogueVersionTest, ChecksWriteMissingFilesAndCompareStoredValues) {
  Result<bool> media = files_.checkMediaDatabaseVersion(100);
  ASSERT_TRUE(media.ok());
  EXPECT_TRUE(*media);  // missing: written with 101, whatever was asked
  EXPECT_EQ(*files_.storedMediaDatabaseVersion(), std::optional<std::int64_t>(101));
  EXPECT_FALSE(*files_.checkMediaDatabaseVersion(100));
  EXPECT_TRUE(*files_.checkMediaDatabaseVersion(101));

  EXPECT_TRUE(*files_.checkScheduleDatabaseVersion(7));
  EXPECT_EQ(*files_.storedScheduleDatabaseVersion(), std::optional<std::int64_t>(100));

  EXPECT_TRUE(*files_.checkManagerDatabaseVersion());
  CatalogueVersionFiles newer(folder_.path(), "6.0");
  EXPECT_FALSE(*newer.checkManagerDatabaseVersion());
  ASSERT_TRUE(newer.saveManagerVersion().ok());
  EXPECT_TRUE(*newer.checkManagerDatabaseVersion());
}

TEST_F(CatalogueVersionTest, UnreadableFileIsAnErrorAndIsNotOverwritten) {
  const std::string garbage = "<plist><dict><key>version</key><integer>1";
  writeBytes(files_.mediaDatabaseVersionPath(), garbage);

  Result<bool> checked = files_.checkMediaDatabaseVersion(101);
  ASSERT_FALSE(checked.ok());
  EXPECT_TRUE(checked.error().is(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::VersionFileUnreadable));
  EXPECT_NE(checked.error().localizedDescription.find(catalogue::kMediaDatabaseVersionFileName), std::string::npos);
  EXPECT_EQ(readBytes(files_.mediaDatabaseVersionPath()), garbage);
}

TEST_F(CatalogueVersionTest, WriteFailureIsReported) {
  // The versions folder is a file: nothing can be written inside it.
  testing_support::TemporaryDirectory folder;
  writeBytes(folder / "Versions", "a file, not a folder");
  CatalogueVersionFiles files(folder / "Versions", kRunningVersion);

  platform::Status saved = files.saveMediaDatabaseVersion(101);
  ASSERT_FALSE(saved.ok());
  EXPECT_TRUE(saved.error().is(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::VersionFileUnwritable));
  EXPECT_FALSE(files.checkScheduleDatabaseVersion(100).ok());
}

}  // namespace
}  // namespace nodes
