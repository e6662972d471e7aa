#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/queueplayer/QueuePlayerHarness.h"

namespace engine::queueplayer {
namespace {

using queueplayer_fakes::QueuePlayerHarness;

// The operator's controls, the engine's queries and the mixer's pull all
// meet on the player's queue; run under the sanitizers this shows races.
TEST(QueuePlayerThreadsTest, ControlFromSeveralThreadsWhileFramesArePulled) {
  QueuePlayerHarness h;
  auto made = std::make_shared<int>(0);
  h.source.setGenerator([made](CVNQueuePlayer& player) -> queueplayer_fakes::ItemRef {
    auto item = queueplayer_fakes::makeItem({.name = "clip " + std::to_string(++*made), .seconds = 1.0});
    item->setDelegate(&player);
    item->setItemState(items::kItemStateInitialized);
    return item;
  });
  CVNQueuePlayer& player = *h.player;
  const std::vector<std::function<void(int)>> controls = {
      [&](int) { player.play(); },
      [&](int) { player.pause(); },
      [&](int) { player.stepForward(); },
      [&](int) { player.claimNextItem(); },
      [&](int i) {
        player.updateItem("clip " + std::to_string(i % 20) + "-id", {{"itemEndBehaviour", platform::Value(i % 8)}},
                          nullptr);
      },
      [&](int) { EXPECT_LE(player.playbackStatus(), kQueuePlayerStopping); },
      [&](int) {
        queueplayer_fakes::ItemRef fadeOut, current, fadeIn;
        player.getFadeOutItem(&fadeOut, &current, &fadeIn);
      },
      [&](int) { player.setCurrentItemTime(0.5, true); },
      [&](int) { player.startPlayback(); },
      [&](int) { player.stopPlayback(); },
      [&](int) { player.forceSwitchToNextItem(); },
      [&](int) { (void)player.lastStartedMediaQueuePlayerItem(); },
  };

  // Each operator waits on the queue every few controls, as a person or a
  // remote link would, so the posted work cannot outrun the queue.
  std::atomic<int> operatorsLeft{3};
  std::thread renderer([&] {
    for (int frame = 0; frame < 500 || operatorsLeft > 0; ++frame) (void)player.nextPixelBuffer();
  });
  std::vector<std::thread> operators;
  for (int thread = 0; thread < 3; ++thread) {
    operators.emplace_back([&, thread] {
      for (int i = thread; i < 600; i += 3) {
        controls[static_cast<std::size_t>(i) % controls.size()](i);
        if (i % 4 == 0) (void)player.requestedPlaybackStatus();
      }
      --operatorsLeft;
    });
  }
  for (auto& thread : operators) thread.join();
  renderer.join();
  h.flush();
  // Forced switches still pending when the operators stop leave their
  // predecessors queued until they go on air.
  h.frames(5);

  // Still answering, with the queue held to what the read-ahead asks for.
  EXPECT_LE(h.status(), kQueuePlayerStopping);
  h.onPlayerQueue([&] { EXPECT_LE(player.items().size(), 16u); });
}

}  // namespace
}  // namespace engine::queueplayer
