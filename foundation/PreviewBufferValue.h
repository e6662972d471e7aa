#pragma once
// The preview buffer value: a pair of unsigned 32-bit integers boxed as a
// value object, so that it can travel as a notification's object. Only a box
// made here unboxes; any other object reads as none.
//
// Plain values; any thread.

#include <any>
#include <cstdint>
#include <optional>

namespace foundation {

struct PreviewBuffer {
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  friend bool operator==(const PreviewBuffer&, const PreviewBuffer&) = default;
};

std::any valueWithPreviewBuffer(PreviewBuffer buffer);
std::optional<PreviewBuffer> previewBuffer(const std::any& value);

}  // namespace foundation
