#pragma once
// One queue player "Main" over a scripted data source and a recording
// delegate, on a manual clock, with its technical log kept. The test thread
// pulls frames as the mixer's rendering queue would.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/queueplayer/CVNQueuePlayer.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/engine/queueplayer/QueuePlayerFakes.h"
#include "tests/support/TemporaryDirectory.h"

namespace queueplayer_fakes {

class QueuePlayerHarness {
 public:
  QueuePlayerHarness() {
    player->setDataSource(&source);
    player->setDelegate(&delegate);
    player->setOutputDisplayMode(item_fakes::displayMode(1920, 1080));
  }
  ~QueuePlayerHarness() { player.reset(); }

  // Runs `task` on the player's queue and waits for it.
  void onPlayerQueue(const std::function<void()>& task) {
    ASSERT_TRUE(player->playerItemDelegateDispatchQueue()->sync(task, std::chrono::seconds(10)));
  }
  // Lets tasks that queued tasks have posted run too.
  void flush() {
    for (int round = 0; round < 4; ++round) onPlayerQueue([] {});
  }
  // Control operations that post further work (a forced switch) run it too.
  void start() {
    player->startPlayback();
    flush();
  }
  // Pulls `count` frames; after each, notes "fade-out/current/fade-in picture"
  // when it differs from the previous note.
  void frames(int count) {
    for (int frame = 0; frame < count; ++frame) {
      const auto picture = player->nextPixelBuffer();
      ItemRef fadeOut, current, fadeIn;
      player->getFadeOutItem(&fadeOut, &current, &fadeIn);
      const std::string note = nameOf(fadeOut) + "/" + nameOf(current) + "/" + nameOf(fadeIn) + " " + pictureName(picture);
      if (trace.empty() || trace.back() != note) trace.push_back(note);
    }
  }
  std::string pictureName(const std::shared_ptr<platform::media::PixelBuffer>& picture) const {
    if (!picture) return "-";
    for (const auto& item : source.items()) {
      if (item->picture() == picture) return nameOf(item);
    }
    for (const auto& item : extraItems) {
      if (item->picture() == picture) return nameOf(item);
    }
    return "?";
  }
  std::string queueNames() {
    std::string names;
    onPlayerQueue([&] {
      for (const auto& item : player->items()) names += (names.empty() ? "" : " ") + nameOf(item);
    });
    return names;
  }
  std::uint64_t status() { return player->playbackStatus(); }
  std::string current() { return nameOf(player->currentItem()); }

  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride{clock};
  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults{folder.path() / "defaults.plist"};
  bool levelSet = (defaults.setObject(platform::Value(3), "technicalLogLevel"), true);
  testing_support::CapturedTechnicalLog log{defaults};
  FakeDataSource source;
  RecordingPlayerDelegate delegate;
  std::vector<std::shared_ptr<FakeItem>> extraItems;  // items the test queued itself
  std::vector<std::string> trace;
  std::shared_ptr<engine::queueplayer::CVNQueuePlayer> player = engine::queueplayer::CVNQueuePlayer::create("Main");
};

}  // namespace queueplayer_fakes
