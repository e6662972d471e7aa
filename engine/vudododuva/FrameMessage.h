#pragma once
// The description of one frame a server sends each receiver: a keyed archive
// (XML property-list bytes) whose top object is a dictionary of the seven
// frame keys. Receivers read it back with unarchiveFrameMessage, which
// refuses anything but that shape. Pure functions; any thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace engine::vudododuva {

struct FrameMessage {
  std::uint32_t number = 0;     // global ID of the frame's pixel buffer
  std::uint64_t offset = 0;     // byte offset of the audio in the audio file
  std::uint64_t samples = 0;    // audio frames
  std::uint64_t ccOffset = 0;   // byte offset of the caption record, or kNoCaptionOffset
  std::int64_t vpts = 0;        // video time before this frame, in the display mode's time scale
  std::int64_t apts = 0;        // audio frames before this frame
  std::uint32_t timecode = 0;   // the timecode's frame number, 0 without one

  bool operator==(const FrameMessage&) const = default;
};

platform::Result<std::string> archivedFrameMessage(const FrameMessage& message);
platform::Result<FrameMessage> unarchiveFrameMessage(std::string_view bytes);

}  // namespace engine::vudododuva
