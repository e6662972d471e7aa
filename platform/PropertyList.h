#pragma once
// XML property lists: the reader accepts any well-formed property list; the
// writer produces the exact byte layout of the desktop platform's writer
// (header and DOCTYPE, tab indentation, keys in sorted order), because
// identity hashes are computed over those bytes.
//
// Free functions without shared state: safe to call from any thread.
//
// Reader: XML in any layout (comments, CDATA, character references, UTF-8 or a
// byte-order-marked UTF-16 file) and the binary form ("bplist00", read only).
// Its leniencies and limits:
// - line ends inside text are kept as written (no CR LF folding), so strings
//   holding a carriage return survive a write and a read;
// - <integer> takes decimal or 0x-hex with a sign; values beyond int64 are an
//   error rather than silently wrapped;
// - <date> takes the ISO-8601 UTC form, with trailing parts left out
//   ("2024-01Z") and an optional fraction of a second;
// - binary sets read as arrays; null, fill and UID objects, which have no
//   property-list value, are refused;
// - nesting deeper than kPropertyListMaxDepth is refused, cyclic binary object
//   references are refused, and objects shared in a binary file may expand to
//   at most kPropertyListExpansionFactor times the input size;
// - duplicate dictionary keys: the last one wins.
// Text must be valid UTF-8 (after decoding); anything else is Malformed.

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Error.h"
#include "platform/Value.h"

namespace platform {

inline constexpr const char* kPropertyListErrorDomain = "PropertyListErrorDomain";
enum class PropertyListErrorCode { Malformed = 1, UnsupportedValue = 2, FileUnreadable = 3, FileUnwritable = 4 };

// Deepest nesting of dictionaries and arrays either direction accepts.
inline constexpr int kPropertyListMaxDepth = 512;
// A binary file may refer to one object many times; reading it copies the
// object each time. The copies may add up to this many times the input size
// (in values plus bytes of text and data) before reading stops.
inline constexpr std::size_t kPropertyListExpansionFactor = 64;

// Errors carry where they arose in userInfo: "offset" (byte offset in the
// input, where known) and "keyPath" (e.g. "items[3].name"; "" is the top).
inline constexpr const char* kPropertyListOffsetKey = "offset";
inline constexpr const char* kPropertyListKeyPathKey = "keyPath";

// Parses an XML or binary property list. Errors name what is wrong and where
// (byte offset, key path).
Result<Value> readPropertyList(std::string_view bytes);
Result<Value> readPropertyListFile(const std::filesystem::path& path);

// Reading a dictionary of records (a document of rows, say) without building
// a dictionary per record. For each entry of the top-level dictionary, in
// file order, the visitor is asked whether it takes the entry as a record;
// when it does and the value is a dictionary, the record's entries reach it
// one by one (file order, repeated keys included) and then its end. Every
// other entry reaches it whole. Keys are valid only during the call.
class PropertyListRecordVisitor {
 public:
  virtual ~PropertyListRecordVisitor() = default;
  virtual bool takesRecord(std::string_view key) = 0;
  virtual void recordEntry(std::string_view key, Value&& value) = 0;
  virtual void endRecord() = 0;
  virtual void entry(std::string_view key, Value&& value) = 0;
};
// True when `bytes` is an XML property list in the plain form writers produce
// (UTF-8, no DTD subset or processing instruction) whose top level is a
// dictionary, and all of it reached the visitor. False for anything else,
// with the visitor possibly part-way through: readPropertyList then gives
// the value or the error.
bool visitPlainPropertyListRecords(std::string_view bytes, PropertyListRecordVisitor& visitor);

// Serialises to the XML layout. A none value cannot be written (nor can a
// dictionary or array holding one): that is an UnsupportedValue error naming
// the key path. So is text that XML 1.0 cannot carry (invalid UTF-8, control
// characters other than tab, LF and CR, U+FFFE/U+FFFF), a date outside the
// years 0000-9999, and nesting deeper than kPropertyListMaxDepth: the writer
// never produces a file the reader refuses.
//
// Layout: one tab per level, "\n" line ends, reals as "%.17g" ("nan",
// "+infinity", "-infinity"), dates in whole UTC seconds (the fraction is
// dropped, rounding toward the past), <data> as Base64 lines at the tag's
// indentation, each at most max(16, 76 - 8 * indentation) characters long.
Result<std::string> writePropertyList(const Value& value);
// Writes atomically: a crash never leaves a truncated file.
Status writePropertyListFile(const std::filesystem::path& path, const Value& value);
// Success when writePropertyList would accept `value`; its error otherwise.
Status checkPropertyListWritable(const Value& value);

// Text from outside (a peer's reply, a service name) made fit for a property
// list before it is kept: every ill-formed UTF-8 sequence and every character
// XML 1.0 cannot carry becomes U+FFFD. Text that is fit comes back unchanged.
std::string propertyListSafeText(std::string_view text);
// Every string and dictionary key inside `value` made safe as above.
void makePropertyListSafe(Value& value);

}  // namespace platform
