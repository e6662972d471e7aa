#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "foundation/PathUtilities.h"

namespace foundation {
namespace {

// Fixes $HOME for the tilde cases and puts the old value back.
class PathUtilitiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* home = std::getenv("HOME")) savedHome_ = home;
    setenv("HOME", "/home/tester", 1);
  }
  void TearDown() override {
    if (savedHome_) setenv("HOME", savedHome_->c_str(), 1);
    else unsetenv("HOME");
  }

 private:
  std::optional<std::string> savedHome_;
};

TEST_F(PathUtilitiesTest, AbsolutePathResolvesAgainstTheBase) {
  struct Case {
    const char* path;
    const char* base;
    std::optional<std::string> expected;
  } cases[] = {
      {"./a/./b", "/base", "/base/a/b"},
      {"a/../b", "/base", "/base/a/../b"},  // not starting with ".": appended as it is
      {"../c", "/a/b", "/a/c"},
      {"../../c", "/a/b", "/c"},
      {"..", "/a", "/"},
      {"../x", "/", std::nullopt},          // nothing left to remove but the root
      {"../../x", "/a", std::nullopt},
      {"..", "", std::nullopt},
      {"x", "~/proj", "/home/tester/proj/x"},
      {"~/m.mov", "/base", "/home/tester/m.mov"},
      {"/abs/x.mov", "/base", "/abs/x.mov"},  // an absolute path stays where it points
      {"", "/base/", "/base"},
      {".hidden", "/base", "/base/.hidden"},
      {"b//c/", "/a/", "/a/b/c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " against " + c.base);
    EXPECT_EQ(absolutePathFromBaseDirPath(c.path, c.base), c.expected);
  }
}

TEST_F(PathUtilitiesTest, RelativePathClimbsOutOfTheBase) {
  struct Case {
    const char* path;
    const char* base;
    const char* expected;
  } cases[] = {
      {"/a/b/c", "/a/d", "../b/c"},
      {"/a", "/a", "."},
      {"/a/b", "/a", "b"},
      {"/a", "/a/b/c", "../.."},
      {"/x/y", "/a/b", "../../x/y"},
      {"/a//b/", "/a", "b"},
      {"~/p/q", "~", "p/q"},
      {"~/p", "/home/tester/q", "../p"},
      {"rel/x", "/abs", "rel/x"},  // no shared root: no relative form
      {"/a/~take/x", "/a", "./~take/x"},  // not to be read back as a home folder
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " from " + c.base);
    EXPECT_EQ(relativePathFromBaseDirPath(c.path, c.base), c.expected);
  }
}

TEST_F(PathUtilitiesTest, RelativeThenAbsoluteGivesThePathBack) {
  const char* paths[] = {"/media/clips/a.mov", "/media/b.mov", "/other/c.mov", "/projects/show/d.mov",
                         "/projects/show/~old/e.mov", "/projects/show/.cache/f.mov"};
  const std::string base = "/projects/show";
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    EXPECT_EQ(absolutePathFromBaseDirPath(relativePathFromBaseDirPath(path, base), base), path);
  }
}

TEST_F(PathUtilitiesTest, ExpandsTildeForTheCurrentAndNamedUsers) {
  EXPECT_EQ(expandTildeInPath("~"), "/home/tester");
  EXPECT_EQ(expandTildeInPath("~/a/b"), "/home/tester/a/b");
  EXPECT_EQ(expandTildeInPath("/a/~"), "/a/~");
  EXPECT_EQ(expandTildeInPath("~no-such-user-x9/a"), "~no-such-user-x9/a");
  EXPECT_EQ(expandTildeInPath("~root/a"), "/root/a");
}

TEST_F(PathUtilitiesTest, SplitsJoinsAndDropsExtensions) {
  EXPECT_EQ(pathComponents("/a//b/"), (std::vector<std::string>{"/", "a", "b"}));
  EXPECT_EQ(pathComponents("a"), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(pathComponents("").empty());
  EXPECT_EQ(pathWithComponents({"/", "a", "/", "b"}), "/a/b");
  EXPECT_EQ(stringByAppendingPathComponent("/", "a"), "/a");

  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"clip.mov", "clip"}, {"a/b.c.mov", "a/b.c"}, {".hidden", ".hidden"}, {"a.d/b", "a.d/b"},
      {"..", ".."},         {"name.", "name"},      {"/", "/"},
  };
  for (const Case& c : cases) EXPECT_EQ(stringByDeletingPathExtension(c.path), c.expected) << c.path;
}

}  // namespace
}  // namespace foundation
