#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "node-standin/MediaLibrary.h"
#include "node-standin/Thumbnailer.h"
#include "platform/Clock.h"
#include "tests/support/TemporaryDirectory.h"

namespace standin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Two tiny clips made once for the whole suite: one second of 64x36 test
// picture at 25 fps (H.264 in QuickTime), and two seconds of MPEG-4 video
// with English audio in Matroska.
class MediaLibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) return;
    clips_ = std::make_unique<testing_support::TemporaryDirectory>();
    const std::string folder = clips_->path().string();
    const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x36:rate=25 ";
    made_ = std::system((make + "-t 1 -pix_fmt yuv420p '" + folder + "/clip.mov'").c_str()) == 0 &&
            std::system((make + "-f lavfi -i sine -t 2 -metadata:s:a language=eng -c:v mpeg4 '" + folder +
                         "/other.mkv'")
                            .c_str()) == 0;
  }
  static void TearDownTestSuite() { clips_.reset(); }

  void SetUp() override {
    if (!made_) GTEST_SKIP() << "the ffmpeg command is needed to make test clips";
    fs::copy_file(clips_->path() / "clip.mov", folder_ / "clip.mov");
    fs::create_directory(folder_ / "sub");
    fs::copy_file(clips_->path() / "other.mkv", folder_ / "sub" / "other.mkv");
    std::ofstream(folder_ / "notes.txt") << "not a movie";
    std::ofstream(folder_ / ".hidden.mov") << "skipped";
  }

  MediaLibrary::Options options() {
    MediaLibrary::Options result;
    result.firstChangeNumber = 1000;
    result.log = [this](const std::string& line) { log_.push_back(line); };
    return result;
  }

  const MediaItemRecord& itemNamed(const MediaFolderIndex& folder, const std::string& relativePath) {
    for (const auto& [id, record] : folder.items()) {
      if (record.relativePath == relativePath) return record;
    }
    ADD_FAILURE() << "no item " << relativePath;
    static const MediaItemRecord none;
    return none;
  }

  static inline std::unique_ptr<testing_support::TemporaryDirectory> clips_;
  static inline bool made_ = false;
  testing_support::TemporaryDirectory media_;
  fs::path folder_ = media_.path();
  std::vector<std::string> log_;
};

TEST_F(MediaLibraryTest, ScanProbesEachFileAndKeepsUnplayableOnes) {
  MediaLibrary library({folder_}, options());
  ASSERT_EQ(library.folders().size(), 1u);
  const MediaFolderIndex& folder = library.folders().front();
  EXPECT_EQ(folder.path(), folder_);
  ASSERT_EQ(folder.items().size(), 3u);  // the hidden file is not listed
  EXPECT_EQ(folder.lastChangeNumber(), 1003u);

  const MediaItemRecord& clip = itemNamed(folder, "clip.mov");
  EXPECT_TRUE(clip.probe.isValid());
  EXPECT_NEAR(clip.probe.durationInSeconds, 1.0, 0.05);
  EXPECT_DOUBLE_EQ(clip.probe.framesPerSecond, 25.0);
  EXPECT_EQ(clip.probe.width, 64);
  EXPECT_EQ(clip.probe.height, 36);
  EXPECT_EQ(clip.probe.videoCodec, 0x61766331u);  // 'avc1'
  EXPECT_EQ(clip.probe.videoCodecDescription, "H.264");
  EXPECT_EQ(clip.absolutePath, folder_ / "clip.mov");

  const MediaItemRecord& other = itemNamed(folder, "sub/other.mkv");
  EXPECT_TRUE(other.probe.isValid());
  EXPECT_NEAR(other.probe.durationInSeconds, 2.0, 0.05);
  EXPECT_EQ(other.probe.languages, std::vector<std::string>{"eng"});
  EXPECT_EQ(other.probe.videoCodec, 0x6D703476u);  // 'mp4v', from the QuickTime tags: Matroska has none

  const MediaItemRecord& notes = itemNamed(folder, "notes.txt");
  EXPECT_FALSE(notes.probe.isValid());
  EXPECT_EQ(notes.probe.invalidReason, InvalidReason::NotAMovieFile);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_NE(log_[0].find("notes.txt is not playable"), std::string::npos);

  // The same folder gives the same IDs to a node started again.
  MediaLibrary again({folder_ / "sub" / ".."}, options());
  EXPECT_EQ(again.folders().front().uniqueID(), folder.uniqueID());
  EXPECT_TRUE(again.findItem(folder.uniqueID(), clip.uniqueID).has_value());
  EXPECT_EQ(again.findItemAtPath((folder_ / "sub" / "other.mkv").string())->item->uniqueID, other.uniqueID);
}

TEST_F(MediaLibraryTest, RescanJournalsChangesUnderNewNumbersOnceDue) {
  platform::ManualClock clock;
  platform::ScopedClockOverride override(clock);
  MediaLibrary library({folder_}, options());
  const MediaFolderIndex& folder = library.folders().front();
  const std::uint64_t first = folder.lastChangeNumber();
  const std::string notesID = itemNamed(folder, "notes.txt").uniqueID;
  const std::string otherID = itemNamed(folder, "sub/other.mkv").uniqueID;

  fs::copy_file(clips_->path() / "clip.mov", folder_ / "later.mov");
  fs::remove(folder_ / "sub" / "other.mkv");
  fs::remove(folder_ / "notes.txt");
  fs::copy_file(clips_->path() / "clip.mov", folder_ / "notes.txt");  // now a playable file

  clock.advance(4s);
  library.rescanIfDue();  // not yet due
  EXPECT_EQ(folder.lastChangeNumber(), first);
  clock.advance(1s);
  library.rescanIfDue();

  const std::vector<MediaItemChange> changes = folder.changesSince(first);
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].mediaItemUniqueID, itemNamed(folder, "later.mov").uniqueID);
  EXPECT_EQ(changeTypeName(changes[0].type), "mediaItemChangeTypeAdded");
  EXPECT_EQ(changes[1].mediaItemUniqueID, notesID);
  EXPECT_EQ(changeTypeName(changes[1].type), "mediaItemChangeTypeBecameValid");
  EXPECT_EQ(changes[2].mediaItemUniqueID, otherID);
  EXPECT_EQ(changeTypeName(changes[2].type), "mediaItemChangeTypeDeleted");
  EXPECT_EQ(changes[2].changeNumber, first + 3);
  EXPECT_EQ(folder.lastChangeNumber(), first + 3);
  EXPECT_EQ(folder.changesSince(first + 2).size(), 1u);
  EXPECT_EQ(folder.item(otherID), nullptr);

  EXPECT_TRUE(library.rescanFolder(folder.uniqueID()));  // nothing changed since
  EXPECT_EQ(folder.lastChangeNumber(), first + 3);
  EXPECT_FALSE(library.rescanFolder("no such folder"));
}

TEST_F(MediaLibraryTest, ThumbnailIsASmallTIFFOfTheClip) {
  const platform::Result<platform::Data> tiff = makeThumbnail(folder_ / "clip.mov", 0.5);
  ASSERT_TRUE(tiff.ok()) << tiff.error().describe();
  const platform::Data& bytes = tiff.value();
  ASSERT_GT(bytes.size(), 160u * 90u * 3u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), std::string("II*\0", 4));

  // Reads the picture size from the first directory.
  auto read16 = [&](std::size_t at) { return bytes[at] | (bytes[at + 1] << 8); };
  auto read32 = [&](std::size_t at) { return static_cast<std::uint32_t>(read16(at) | (read16(at + 2) << 16)); };
  const std::uint32_t directory = read32(4);
  std::uint32_t width = 0, height = 0;
  for (int i = 0; i < read16(directory); ++i) {
    const std::size_t field = directory + 2 + 12 * i;
    if (read16(field) == 256) width = read32(field + 8);
    if (read16(field) == 257) height = read32(field + 8);
  }
  EXPECT_EQ(width, 160u);  // 64x36 fits the 160x90 box exactly
  EXPECT_EQ(height, 90u);

  EXPECT_EQ(makeThumbnail(folder_ / "clip.mov", 60).ok(), true);  // past the end: the last picture
  const platform::Result<platform::Data> refused = makeThumbnail(folder_ / "notes.txt", 0);
  ASSERT_FALSE(refused.ok());
  EXPECT_TRUE(refused.error().is(kThumbnailErrorDomain, ThumbnailErrorCode::Unreadable));
}

}  // namespace
}  // namespace standin
