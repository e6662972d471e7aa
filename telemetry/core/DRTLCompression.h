#pragma once
// DRTLCompression: gzip of request bodies (zlib deflate, default level, window
// bits 31, memory level 8). Stateless; any thread.

#include <optional>
#include <string>

namespace telemetry::core {

class DRTLCompression {
 public:
  // The gzip stream of the bytes; none for empty input or when zlib fails
  // (logged at ERROR).
  static std::optional<std::string> compressData(const std::optional<std::string>& data);
};

}  // namespace telemetry::core
