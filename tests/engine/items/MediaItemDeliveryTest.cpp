#include "tests/engine/items/MediaItemFixture.h"

namespace engine::items {
namespace {

TEST_F(MediaItemTest, NothingIsDeliveredBeforeTheItemIsReady) {
  make(clip());
  onQueue([&] { session_->initialize(); });
  EXPECT_EQ(pull(), nullptr);
  EXPECT_EQ(log_.linesWith("Error: Asking to prepare while not ready for item 'Name: clip.mov UID:"), 1u);
}

TEST_F(MediaItemTest, TakesOrPeeksPicturesAndRepeatsTheLastWhenNoneIsDecoded) {
  make(clip());
  initializeAndPlay();
  const auto first = pull();
  ASSERT_NE(first, nullptr);
  std::uint32_t bytes = 0;
  onQueue([&] {
    EXPECT_NE(item_->nextAudioSamples(1920, &bytes), nullptr);
    EXPECT_EQ(item_->nextAudioSamples(1920, &bytes), nullptr) << "one audio block per picture";
  });
  EXPECT_EQ(session_->audioRequests, std::vector<std::uint32_t>{1920});

  EXPECT_EQ(pull(), first);
  EXPECT_EQ(pull(), first);
  EXPECT_EQ(item_->duplicatedFramesCount(), 2);
  EXPECT_TRUE(item_->currentPixelBufferIsMissing() == false);
  onQueue([&] { EXPECT_EQ(item_->nextAudioSamples(1920, &bytes), nullptr) << "a repeated picture takes no audio"; });

  const auto second = item_fakes::picture(1920, 1080, k2vuy, 1);
  onQueue([&] { session_->push(second); });
  EXPECT_EQ(pull(false), second->imageBuffer()) << "a peek shows the next picture";
  onQueue([&] { EXPECT_EQ(item_->nextClosedCaptionSampleBuffer(), nullptr) << "a peek sends no captions"; });
  EXPECT_EQ(pull(), second->imageBuffer()) << "the peeked picture is still there to take";
  EXPECT_EQ(item_->lastDequeuedFramePTS(), pm::MediaTime::make(1, 25));
  EXPECT_EQ(log_.linesWith("Error: Video frame not decompressed yet. Start duplicating frames ''clip.mov' (UID: '"), 1u);
  EXPECT_EQ(log_.linesWith("Video frame now decompressed. Stop duplicating frames ''clip.mov' (UID: '" +
                           item_->uniqueID() + "')' (2)"),
            1u);
}

TEST_F(MediaItemTest, DuplicateLinesNameTheKindOfClip) {
  const std::pair<std::int32_t, const char*> rows[] = {
      {kClipTypeMovie, "Error: Video frame not decompressed yet. Start duplicating frames"},
      {kClipTypeNetworkStream, "Error: Stream Item - no frames available (slow reading). Start duplicating frames"},
      {kClipTypeLiveEvent, "Error: Video frame not decompressed yet. Start duplicating frames"},
  };
  for (const auto& [type, text] : rows) {
    const auto before = log_.linesWith(text);
    make(clip(), {.clipType = type});
    initializeAndPlay();
    pull();
    pull();
    EXPECT_EQ(log_.linesWith(text), before + 1) << type;
  }
}

TEST_F(MediaItemTest, HoldingTheFirstFrameOnlyPeeks) {
  make(clip({{"itemHoldFirstFrame", platform::Value(true)}}));
  initializeAndPlay();
  const auto held = pull();
  EXPECT_EQ(pull(), held);
  onQueue([&] {
    EXPECT_NE(session_->nextVideoSampleBuffer(), nullptr) << "the held picture was never taken";
  });
}

TEST_F(MediaItemTest, LiveInputNotPlayingHoldsItsPlaybackTime) {
  make({{"itemIsZiraInput", platform::Value(true)},
        {"itemZiraSource", std::shared_ptr<media::CVNZiraSource>()},
        {"itemOutputBufferFormat", platform::Value(std::int64_t{k2vuy})}},
       {.clipType = kClipTypeLiveInput});
  initializeAndPlay();
  onQueue([&] { item_->nextPixelBufferByAllowingItemToDequeue(true, 1); });
  EXPECT_TRUE(session_->heldPlaybackTime);
  EXPECT_FALSE(session_->disablePlaybackPTSUpdate());
  onQueue([&] { session_->push(item_fakes::picture(1280, 720, k2vuy, 1)); });
  pull();
  EXPECT_FALSE(session_->heldPlaybackTime);
  EXPECT_EQ(item_->videoFrameSize(), (foundation::Size{1280, 720})) << "a live input follows its picture size";
  pull();
  EXPECT_EQ(log_.linesWith("Error: Vovi Item - no frames available. Start duplicating frames"), 1u);
}

TEST_F(MediaItemTest, PicturesOfAnotherFormatAreRefusedAndOfAnotherSizeCentred) {
  make(clip());
  initializeAndPlay();
  const auto first = pull();
  onQueue([&] { session_->push(item_fakes::picture(1920, 1080, pm::kPixelFormat32BGRA, 1)); });
  EXPECT_EQ(pull(), first) << "the previous picture stays";
  EXPECT_EQ(log_.linesWith("Error: Picture in format 'BGRA' instead of '2vuy' refused for item"), 1u);

  onQueue([&] { session_->push(item_fakes::picture(1280, 720, k2vuy, 2, 0x55)); });
  const auto centred = pull();
  ASSERT_EQ(centred->width(), 1920u);
  ASSERT_EQ(centred->height(), 1080u);
  EXPECT_EQ(centred->baseAddress()[0], 0x80);
  EXPECT_EQ(centred->baseAddress()[1], 0x10);
  EXPECT_EQ(centred->baseAddress()[540 * centred->bytesPerRow() + 960 * 2], 0x55);
}

TEST_F(MediaItemTest, FinishedSessionFinishesTheItemAndHandsOutVANC) {
  make(clip());
  initializeAndPlay();
  pull();
  auto last = item_fakes::picture(1920, 1080, k2vuy, 1);
  last->createSampleAttachmentsIfNeeded();
  last->setSampleAttachment(0, "VANCPackets", platform::Value(platform::Array{platform::Value("packet")}));
  onQueue([&] { session_->push(last); });
  pull();
  EXPECT_EQ(item_->VANCPackets().size(), 1u);
  pull();
  EXPECT_TRUE(item_->VANCPackets().empty()) << "a repeated picture carries no packets";
  session_->setFinished(true);
  pull();
  EXPECT_TRUE(item_->isFinished());
  EXPECT_EQ(item_->itemState(), kItemStateFinished);
  EXPECT_EQ(delegate_.calls().back(), "rendered all");
  EXPECT_TRUE(delegate_.allCallsOnQueue());
}

}  // namespace
}  // namespace engine::items
