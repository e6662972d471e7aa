#pragma once
// The one percent-encoder of the support desk's requests: everything but the
// unreserved characters is encoded, and "/" too unless it separates a path.
#include <string>

namespace support {

enum class PercentEncodingPart { Path, QueryValue };

std::string percentEncoded(const std::string& text, PercentEncodingPart part);

}  // namespace support
