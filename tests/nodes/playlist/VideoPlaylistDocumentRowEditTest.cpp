// The document's row-edit handler: every row change of the editing calls,
// and its replay by undo and redo, is told with its kind, index and row.

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nodes/playlist/VideoPlaylistDocument.h"

namespace nodes {
namespace {

using Kind = VideoPlaylistDocument::RowEdit::Kind;

struct Told {
  Kind kind;
  std::size_t index;
  std::string row;
  friend bool operator==(const Told&, const Told&) = default;
};

void PrintTo(const Told& told, std::ostream* out) {
  static const char* const kNames[] = {"Inserted", "Removed", "Replaced"};
  *out << kNames[static_cast<int>(told.kind)] << " " << told.index << " " << told.row;
}

std::shared_ptr<PlaylistItem> row(const std::string& name) {
  auto item = std::make_shared<PlaylistItem>();
  item->setDisplayName(name);
  item->setMediaItemDurationInSeconds(10.0);
  return item;
}

TEST(VideoPlaylistDocumentRowEditTest, EditsUndoAndRedoAreEachToldWithKindAndIndex) {
  struct Case {
    const char* name;
    std::function<bool(VideoPlaylistDocument&)> edit;
    std::vector<Told> done;
    std::vector<Told> undone;
  };
  const std::vector<Case> cases = {
      {"insert", [](VideoPlaylistDocument& d) { return d.insertClip(row("x"), 1); },
       {{Kind::Inserted, 1, "x"}}, {{Kind::Removed, 1, "x"}}},
      {"insert at the end", [](VideoPlaylistDocument& d) { return d.insertClip(row("x"), 4); },
       {{Kind::Inserted, 4, "x"}}, {{Kind::Removed, 4, "x"}}},
      {"remove", [](VideoPlaylistDocument& d) { return d.removeClipAtIndex(2); },
       {{Kind::Removed, 2, "c"}}, {{Kind::Inserted, 2, "c"}}},
      {"replace", [](VideoPlaylistDocument& d) { return d.replaceClipAtIndex(0, row("x")); },
       {{Kind::Replaced, 0, "x"}}, {{Kind::Replaced, 0, "a"}}},
      {"move down", [](VideoPlaylistDocument& d) { return d.moveClip(0, 3); },
       {{Kind::Removed, 0, "a"}, {Kind::Inserted, 3, "a"}}, {{Kind::Removed, 3, "a"}, {Kind::Inserted, 0, "a"}}},
      {"move up", [](VideoPlaylistDocument& d) { return d.moveClip(3, 1); },
       {{Kind::Removed, 3, "d"}, {Kind::Inserted, 1, "d"}}, {{Kind::Removed, 1, "d"}, {Kind::Inserted, 3, "d"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VideoPlaylistDocument document;
    document.setPlaylist({row("a"), row("b"), row("c"), row("d")});
    std::vector<Told> told;
    document.setRowEditHandler([&told](const VideoPlaylistDocument::RowEdit& edit) {
      told.push_back({edit.kind, edit.index, edit.item ? edit.item->displayName() : "-"});
    });

    ASSERT_TRUE(c.edit(document));
    EXPECT_EQ(told, c.done);
    told.clear();
    document.undoManager().undo();
    EXPECT_EQ(told, c.undone);
    told.clear();
    document.undoManager().redo();
    EXPECT_EQ(told, c.done);
  }
}

TEST(VideoPlaylistDocumentRowEditTest, RefusedEditsTellNothingAndAnEmptyHandlerIsRemoved) {
  VideoPlaylistDocument document;
  document.setPlaylist({row("a"), row("b")});
  int told = 0;
  document.setRowEditHandler([&told](const VideoPlaylistDocument::RowEdit&) { ++told; });
  EXPECT_FALSE(document.insertClip(row("x"), 3));
  EXPECT_FALSE(document.removeClipAtIndex(2));
  EXPECT_FALSE(document.replaceClipAtIndex(2, row("x")));
  EXPECT_FALSE(document.moveClip(1, 1));
  EXPECT_EQ(told, 0);

  document.setRowEditHandler({});
  EXPECT_TRUE(document.removeClipAtIndex(0));
  EXPECT_EQ(told, 0);
}

}  // namespace
}  // namespace nodes
