#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/shell/LaunchDocuments.h"

namespace app {
namespace {

struct LaunchCase {
  const char* what;
  std::vector<std::string> arguments;
  std::vector<std::string> documents;
};

TEST(LaunchDocumentsTest, TakesPlainPlaylistArgumentsAndNeverADefaultsValue) {
  const std::vector<LaunchCase> cases{
      {"none", {}, {}},
      {"relative and absolute", {"a.vzplaylist", "/x/b.vzplaylist"}, {"/work/a.vzplaylist", "/x/b.vzplaylist"}},
      {"after a defaults pair",
       {"-discoveredNodes", "<array/>", "../show/c.vzplaylist"},
       {"/show/c.vzplaylist"}},
      {"a defaults value that names a document", {"-lastPlaylist", "d.vzplaylist"}, {}},
      {"Qt's own option pair", {"-platform", "offscreen", "e.vzplaylist"}, {"/work/e.vzplaylist"}},
      {"double-dash option stands alone", {"--verbose", "f.vzplaylist"}, {"/work/f.vzplaylist"}},
      {"after the end of the defaults", {"--", "-g.vzplaylist"}, {"/work/-g.vzplaylist"}},
      {"other files and the bare extension", {"h.txt", ".vzplaylist", "i.vzplaylist.bak"}, {}},
  };
  for (const LaunchCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> found;
    for (const auto& path : playlistDocumentsInArguments(c.arguments, "/work")) found.push_back(path.string());
    EXPECT_EQ(found, c.documents);
  }
}

}  // namespace
}  // namespace app
