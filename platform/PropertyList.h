#pragma once
// XML property lists: the reader accepts any well-formed property list; the
// writer produces the exact byte layout of the desktop platform's writer
// (header and DOCTYPE, tab indentation, keys in sorted order), because
// identity hashes are computed over those bytes.

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Error.h"
#include "platform/Value.h"

namespace platform {

inline constexpr const char* kPropertyListErrorDomain = "PropertyListErrorDomain";
enum class PropertyListErrorCode { Malformed = 1, UnsupportedValue = 2, FileUnreadable = 3, FileUnwritable = 4 };

// Parses an XML property list. Errors name what is wrong and where (byte offset).
Result<Value> readPropertyList(std::string_view bytes);
Result<Value> readPropertyListFile(const std::filesystem::path& path);

// Serialises to the XML layout. A none value cannot be written (nor can a
// dictionary or array holding one): that is an UnsupportedValue error.
Result<std::string> writePropertyList(const Value& value);
// Writes atomically: a crash never leaves a truncated file.
Status writePropertyListFile(const std::filesystem::path& path, const Value& value);

}  // namespace platform
