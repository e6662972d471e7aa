#pragma once
// The validation services readers and sessions use long before an engine
// runs: the texts of validation reasons, the validation log (begin and end
// lines of an asset's validation), and black pixel buffers of any size and
// format. The engine's CVNEngineBase forwards its class operations of these
// names here. Class operations; any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/geometry/Geometry.h"
#include "platform/media/PixelBuffer.h"

namespace media {

// Validation reasons readers store in validationError.
enum ValidationReason : std::int32_t {
  kValidationReasonUnknown = -1,
  kValidationReasonNone = 0,
  kValidationReasonFileNotFound = 1,
  kValidationReasonNotAMovieFile = 2,
  kValidationReasonVideoCodecNotFound = 5,
  kValidationReasonVideoCodecNotSupported = 6,
  kValidationReasonNoVideoTrack = 7,
  kValidationReasonFormatNotSupported = 10,
  kValidationReasonInputNotAvailable = 12,
  kValidationReasonLiveDisabled = 13,
  kValidationReasonInputNotStarted = 14,
  kValidationReasonInputFormatInvalid = 15,
  kValidationReasonStreamNotFound = 17,
  kValidationReasonURLNotSupported = 19,
  kValidationReasonTooShortForInOut = 20,
  kValidationReasonTruncated = 21,
};

// The begin and end lines of one asset's validation, at level 3 in the
// technical log under the category "Validation".
class EngineValidationLog {
 public:
  void beginValidation(const std::string& sourceDescription) const;
  void endValidation(const std::string& sourceDescription, bool valid) const;
};

class CVNEngineValidation {
 public:
  // The text of a reason; "" for reasons without one.
  static std::string stringFromValidationErrorReason(std::int32_t reason);
  // One log, made on first use.
  static const EngineValidationLog& engineValidationOSLog();
  // A new buffer of the size (doubles, converted to whole pixels) and format,
  // filled with black for the formats that have a known black; none with the
  // creation status in `error` when it cannot be made. `ioSurfaceBacked`
  // gives a shareable buffer.
  static std::shared_ptr<platform::media::PixelBuffer> createEmptyPixelBufferWithSize(
      foundation::Size size, platform::media::FourCharCode format, bool ioSurfaceBacked,
      platform::media::CVReturn* error);
};

}  // namespace media
