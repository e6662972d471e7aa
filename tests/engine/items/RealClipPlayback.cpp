#include "tests/engine/items/RealClipPlayback.h"

#include <gtest/gtest.h>

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"

namespace item_fakes {

RealClipFolder::RealClipFolder() { media::CVNFFmpegMovieAssetReader::registerMovieReader(); }

std::filesystem::path RealClipFolder::make(const std::string& name, const std::string& ffmpegArguments) {
  const auto path = folder_.path() / name;
  if (!testing_support::makeFileOnce("ffmpeg -nostdin -hide_banner -loglevel error -y " + ffmpegArguments, path)) return {};
  return path;
}

bool askOnQueue(RecordingItemDelegate& delegate, const std::function<bool()>& question) {
  bool answer = false;
  delegate.runOnQueue([&] { answer = question(); });
  return answer;
}

bool readUntilReady(RecordingItemDelegate& delegate, engine::items::CVNMediaQueuePlayerItem& item,
                    double readAheadSeconds) {
  // The session takes the read-ahead once it knows the clip.
  testing_support::waitForCondition(
      [&] {
        return askOnQueue(delegate, [&] {
          item.setAllowedReadAheadDurationInSeconds(readAheadSeconds);
          return item.isReadyForPlayback() || item.isFinished();
        });
      },
      "the clip to be ready");
  return askOnQueue(delegate, [&] { return item.isReadyForPlayback(); });
}

std::vector<std::int64_t> playToTheEnd(RecordingItemDelegate& delegate, engine::items::CVNMediaQueuePlayerItem& item,
                                       std::size_t width, int maxPulls) {
  std::vector<std::int64_t> frames;
  const auto session = std::dynamic_pointer_cast<media::CVNDecompressionSession>(item.decompressionSession());
  if (!session) {
    ADD_FAILURE() << "the item has no decompression session";
    return frames;
  }
  for (int pull = 0; pull < maxPulls && !askOnQueue(delegate, [&] { return item.isFinished(); }); ++pull) {
    if (!testing_support::waitForCondition(
            [&] { return session->decodeAheadFrameCount() > 0 || session->isFinishedPlaying(); }, "a decoded picture")) {
      break;
    }
    delegate.runOnQueue([&] {
      const auto picture = item.nextPixelBufferByAllowingItemToDequeue(true, engine::items::kPlaybackStatusPlaying);
      if (!picture) {
        ADD_FAILURE() << "pull " << pull << " gave no picture";
        return;
      }
      EXPECT_EQ(picture->width(), width);
      if (item.duplicatedFramesCount() == 0) {
        const auto pts = item.lastDequeuedFramePTS();
        frames.push_back(pts.value * 25 / pts.timeScale);
      }
    });
  }
  return frames;
}

}  // namespace item_fakes
