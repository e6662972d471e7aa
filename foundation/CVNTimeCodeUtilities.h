#pragma once
// Timecode-track frame numbers as SMPTE time records, and those records as
// text. Stateless: class operations only, callable from any thread.
//
// A frame before zero on a track limited to 24 hours that does not allow
// negative times is the matching frame of the previous day (frame -1 is the
// last frame of the day); otherwise it is marked negative in the minutes.

#include <cstdint>
#include <string>

#include "foundation/TimeCodeTypes.h"

namespace foundation {

class CVNTimeCodeUtilities {
 public:
  CVNTimeCodeUtilities() = delete;

  // An all-zero record when the description is not a timecode track or
  // counts no frames per second; otherwise a record flagged valid.
  static SMPTETime SMPTETimeFromFrameNumber(std::int32_t frameNumber,
                                            const TimeCodeFormatDescription& timeCodeFormatDescription);
  // "hh:mm:ss:ff", or "hh:mm:ss;ff" for drop-frame types; a negative time
  // gets a leading "-".
  static std::string timeCodeStringFromSMPTETime(const SMPTETime& time);
};

}  // namespace foundation
