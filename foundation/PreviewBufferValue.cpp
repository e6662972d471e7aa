#include "foundation/PreviewBufferValue.h"

namespace foundation {
namespace {

// Its own type, so that a pair boxed for another purpose never reads as one.
struct BoxedPreviewBuffer {
  PreviewBuffer buffer;
};

}  // namespace

std::any valueWithPreviewBuffer(PreviewBuffer buffer) { return BoxedPreviewBuffer{buffer}; }

std::optional<PreviewBuffer> previewBuffer(const std::any& value) {
  if (const auto* boxed = std::any_cast<BoxedPreviewBuffer>(&value)) return boxed->buffer;
  return std::nullopt;
}

}  // namespace foundation
