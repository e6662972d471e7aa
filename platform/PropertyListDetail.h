#pragma once
// Pieces the XML and binary property-list readers share. Internal to
// platform/: not for use outside PropertyList*.cpp.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PropertyList.h"

namespace platform::detail {

// "bplist00": the one binary version read.
inline constexpr std::string_view kBinaryPropertyListMagic = "bplist00";

// One step of a key path: a dictionary key or an array index.
struct PathSegment {
  std::string_view key;   // dictionary key, when isKey
  std::size_t index = 0;  // array index otherwise
  bool isKey = false;
};

// "a.b[2].c"; "" for the top level.
std::string formatKeyPath(const std::vector<PathSegment>& path);

// An error in kPropertyListErrorDomain whose description ends with where it
// arose, "(at byte N, key path "a.b")", and whose userInfo carries both.
Error makeError(PropertyListErrorCode code, std::string_view prefix, std::string_view what,
                std::optional<std::int64_t> offset, const std::vector<PathSegment>* path);

// Reads input that starts with kBinaryPropertyListMagic.
Result<Value> readBinaryPropertyList(std::string_view bytes);

}  // namespace platform::detail
