#pragma once
// Playing a clip item over the real session as the queue player and the
// output would: the read-ahead renewed every frame until the item is ready,
// then one pull each time a decoded picture is due, up to the end.

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "tests/engine/items/ItemFakes.h"

namespace item_fakes {

// Runs `question` on the delegate's queue and answers it.
bool askOnQueue(RecordingItemDelegate& delegate, const std::function<bool()>& question);
// True once the item is ready for playback; false when it finished first or the wait ran out.
bool readUntilReady(RecordingItemDelegate& delegate, engine::items::CVNMediaQueuePlayerItem& item,
                    double readAheadSeconds);
// The frame numbers (at 25 fps) of the pictures each pull newly took, every
// picture checked to be `width` wide; at most `maxPulls` pulls.
std::vector<std::int64_t> playToTheEnd(RecordingItemDelegate& delegate, engine::items::CVNMediaQueuePlayerItem& item,
                                       std::size_t width, int maxPulls);

}  // namespace item_fakes
