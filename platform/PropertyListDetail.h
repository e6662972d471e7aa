#pragma once
// Pieces the XML and binary property-list readers share, and the XML writer's
// layout. Internal to platform/: not for use outside PropertyList*.cpp and
// KeyedArchive.cpp (and the tests and fuzz target that compare the two XML
// readers).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PropertyList.h"

namespace platform::detail {

// The XML layout's fixed opening and closing lines; part of the hashed bytes,
// so kept verbatim.
inline constexpr std::string_view kXmlPrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
inline constexpr std::string_view kXmlEpilogue = "</plist>\n";

// Pieces of the XML writer's layout, for writers that assemble a document
// from parts (keyed archives): a key element, and a value's elements, at an
// indentation level. False when XML cannot carry the text or the value;
// writePropertyList() of the whole says why and where.
bool appendXmlKey(std::string& out, std::string_view key, int level);
bool appendXmlValue(std::string& out, const Value& value, int level);

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

inline bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

inline std::string_view trimXmlSpace(std::string_view s) {
  while (!s.empty() && isXmlSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isXmlSpace(s.back())) s.remove_suffix(1);
  return s;
}

inline bool isAllXmlSpace(std::string_view s) { return trimXmlSpace(s).empty(); }

// Element text, surrounding XML whitespace allowed. Integers: decimal or
// 0x-hex with a sign, nullopt when malformed or outside int64 (then
// `outOfRange` tells which). Dates: YYYY[-MM[-DD[THH[:MM[:SS[.fraction]]]]]]Z.
std::optional<std::int64_t> parseInteger(std::string_view text, bool& outOfRange);
std::optional<double> parseReal(std::string_view text);
std::optional<Date> parseDate(std::string_view text);

// The XML reader in one pass over the bytes, for documents in the plain form
// writers produce (UTF-8, no internal DTD subset, no processing instruction
// after the declaration, no entity but the predefined ones and character
// references). nullopt for anything else, well-formed or not, and for every
// error: readXmlPropertyList then decides, with its full error report.
std::optional<Value> readPlainXmlPropertyList(std::string_view bytes);
// The same reader handing a top-level dictionary's entries to a visitor.
bool visitPlainXmlPropertyListRecords(std::string_view bytes, PropertyListRecordVisitor& visitor);
// The XML reader over pugixml's document tree: any well-formed XML, and the
// errors with offset and key path.
Result<Value> readXmlPropertyList(std::string_view bytes);

// Reads input that starts with kBinaryPropertyListMagic.
Result<Value> readBinaryPropertyList(std::string_view bytes);

}  // namespace platform::detail
