#include "telemetry/core/DRTLCompression.h"

#include <zlib.h>

#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {
namespace {

const char* zlibReason(int result) {
  switch (result) {
    case Z_VERSION_ERROR: return "Version of zlib.h & libz library do not match!";
    case Z_MEM_ERROR: return "Not enough memory.";
    case Z_STREAM_ERROR: return "Invalid parameter passed in to function.";
    default: return "Unknown error!";
  }
}

const char* deflateReason(int result) {
  switch (result) {
    case Z_STREAM_ERROR: return "Inconsistent stream state.";
    case Z_BUF_ERROR: return "No progress is possible.";
    default: return "Unknown error!";
  }
}

constexpr int kGzipWindowBits = 31;
constexpr int kMemoryLevel = 8;

}  // namespace

std::optional<std::string> DRTLCompression::compressData(const std::optional<std::string>& data) {
  if (!data || data->empty()) return std::nullopt;
  z_stream stream{};
  int result = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemoryLevel,
                            Z_DEFAULT_STRATEGY);
  if (result != Z_OK) {
    DRTLLogError(std::string("Compression failed with error: ") + zlibReason(result));
    return std::nullopt;
  }
  // deflateBound rather than a fixed 1.01 x length + 12: that one has no room
  // for the gzip header and trailer of small bodies.
  std::string output(deflateBound(&stream, static_cast<uLong>(data->size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data->data()));
  stream.avail_in = static_cast<uInt>(data->size());
  stream.next_out = reinterpret_cast<Bytef*>(output.data());
  stream.avail_out = static_cast<uInt>(output.size());
  do {
    result = deflate(&stream, Z_FINISH);
  } while (result == Z_OK);
  const std::size_t produced = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    DRTLLogError(std::string("Deflate failed with error: ") + deflateReason(result));
    return std::nullopt;
  }
  output.resize(produced);
  return output;
}

}  // namespace telemetry::core
