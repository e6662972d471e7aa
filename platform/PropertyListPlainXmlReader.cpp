// The XML property-list reader for the plain form that writers produce, in
// one pass over the bytes: no document tree is built, and leaf text without
// escapes goes straight from the input into its value. Whatever lies outside
// that form, and every error, is handed back as nullopt for the tree reader to
// read or report, so the two readers never disagree on a value they both read.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "platform/Base64.h"
#include "platform/PropertyListDetail.h"
#include "platform/Utf8.h"

namespace platform::detail {
namespace {

bool isNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':'; }
bool isNameCharacter(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-'; }

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

// Characters XML 1.0 allows a character reference to name.
bool isXmlCharacter(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

class PlainXmlReader {
 public:
  explicit PlainXmlReader(std::string_view bytes) : p_(bytes.data()), end_(bytes.data() + bytes.size()) {}

  std::optional<Value> read() {
    std::string_view name;
    bool empty = false;
    if (!document(name, empty)) return std::nullopt;
    Value value;
    if (name == "plist") {
      std::string_view valueName;
      bool valueEmpty = false;
      if (empty || !skipMisc() || !startTag(valueName, valueEmpty) || !readValue(valueName, valueEmpty, value, 0) ||
          !skipMisc() || !endTag(name)) {
        return std::nullopt;
      }
    } else if (!readValue(name, empty, value, 0)) {
      return std::nullopt;
    }
    if (!skipMisc() || p_ != end_) return std::nullopt;
    return value;
  }

  bool records(PropertyListRecordVisitor& visitor) {
    std::string_view name;
    bool empty = false;
    if (!document(name, empty)) return false;
    const bool wrapped = name == "plist";
    if (wrapped && (empty || !skipMisc() || !startTag(name, empty))) return false;
    if (tagOf(name) != Tag::Dict || !topLevelEntries(empty, visitor)) return false;
    if (wrapped && (!skipMisc() || !endTag("plist"))) return false;
    return skipMisc() && p_ == end_;
  }

 private:
  // Up to the top-level element's start tag. False for input that is not
  // this reader's to judge.
  bool document(std::string_view& name, bool& empty) {
    // The tree reader's parser stops at a NUL byte; such input is its to judge.
    if (std::memchr(p_, '\0', static_cast<std::size_t>(end_ - p_))) return false;
    // A document cut short seldom ends with a tag: such input goes straight
    // to the tree reader instead of being read twice.
    if (!trimXmlSpace(std::string_view(p_, left())).ends_with('>')) return false;
    return prolog() && startTag(name, empty);
  }

  std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }
  bool startsWith(std::string_view s) const { return left() >= s.size() && std::memcmp(p_, s.data(), s.size()) == 0; }

  void skipSpace() {
    while (p_ < end_ && isXmlSpace(*p_)) ++p_;
  }

  // Past the next `terminator`; false when there is none.
  bool skipPast(std::string_view terminator) {
    const std::string_view rest(p_, left());
    const std::size_t at = rest.find(terminator);
    if (at == std::string_view::npos) return false;
    p_ += at + terminator.size();
    return true;
  }

  // An optional UTF-8 byte-order mark and XML declaration, then comments,
  // whitespace and one DOCTYPE without an internal subset.
  bool prolog() {
    if (startsWith("\xEF\xBB\xBF")) p_ += 3;
    if (startsWith("<?xml") && left() > 5 && isXmlSpace(p_[5])) {
      p_ += 5;
      if (!declaration()) return false;
    }
    bool doctypeSeen = false;
    for (;;) {
      skipSpace();
      if (startsWith("<!--")) {
        p_ += 4;
        if (!skipPast("-->")) return false;
      } else if (startsWith("<!DOCTYPE") && left() > 9 && isXmlSpace(p_[9]) && !doctypeSeen) {
        p_ += 9;
        if (!doctype()) return false;
        doctypeSeen = true;
      } else {
        return true;
      }
    }
  }

  // Pseudo-attributes up to "?>"; an encoding must be UTF-8.
  bool declaration() {
    for (;;) {
      skipSpace();
      if (startsWith("?>")) {
        p_ += 2;
        return true;
      }
      std::string_view name;
      std::string_view value;
      if (!attribute(name, value)) return false;
      if (name == "encoding" && !equalsIgnoringAsciiCase(value, "utf-8")) return false;
    }
  }

  bool doctype() {
    while (p_ < end_) {
      const char c = *p_++;
      if (c == '>') return true;
      if (c == '[' || c == '<') return false;
      if (c == '"' || c == '\'') {
        const void* close = std::memchr(p_, c, left());
        if (!close) return false;
        p_ = static_cast<const char*>(close) + 1;
      }
    }
    return false;
  }

  bool name(std::string_view& out) {
    const char* start = p_;
    if (p_ == end_ || !isNameStart(*p_)) return false;
    ++p_;
    while (p_ < end_ && isNameCharacter(*p_)) ++p_;
    out = std::string_view(start, static_cast<std::size_t>(p_ - start));
    return true;
  }

  // name = "value", with no reference or '<' in the value.
  bool attribute(std::string_view& attributeName, std::string_view& value) {
    if (!name(attributeName)) return false;
    skipSpace();
    if (p_ == end_ || *p_ != '=') return false;
    ++p_;
    skipSpace();
    if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) return false;
    const char quote = *p_++;
    const char* start = p_;
    while (p_ < end_ && *p_ != quote) {
      if (*p_ == '<' || *p_ == '&') return false;
      ++p_;
    }
    if (p_ == end_) return false;
    value = std::string_view(start, static_cast<std::size_t>(p_ - start));
    ++p_;
    return true;
  }

  // "<name attributes>" or "<name attributes/>"; attributes are read past.
  bool startTag(std::string_view& tagName, bool& empty) {
    if (p_ == end_ || *p_ != '<') return false;
    ++p_;
    if (!name(tagName)) return false;
    for (;;) {
      const char* beforeSpace = p_;
      skipSpace();
      if (p_ == end_) return false;
      if (*p_ == '>') {
        ++p_;
        empty = false;
        return true;
      }
      if (startsWith("/>")) {
        p_ += 2;
        empty = true;
        return true;
      }
      std::string_view attributeName;
      std::string_view value;
      if (p_ == beforeSpace || !attribute(attributeName, value)) return false;
    }
  }

  bool endTag(std::string_view tagName) {
    if (left() < tagName.size() + 3 || p_[0] != '<' || p_[1] != '/') return false;
    // Tag names are a few bytes, compared inline: a library call for each
    // element's end costs more than the comparison.
    for (std::size_t i = 0; i < tagName.size(); ++i) {
      if (p_[2 + i] != tagName[i]) return false;
    }
    p_ += 2 + tagName.size();
    skipSpace();
    if (p_ == end_ || *p_ != '>') return false;
    ++p_;
    return true;
  }

  bool atEndTag() const { return left() >= 2 && p_[0] == '<' && p_[1] == '/'; }

  // Whitespace and comments between elements; stops at the next '<' of
  // anything else, or at the end.
  bool skipMisc() {
    for (;;) {
      skipSpace();
      if (p_ == end_) return true;
      if (*p_ != '<') return false;
      if (left() < 4 || p_[1] != '!' || !startsWith("<!--")) return true;
      p_ += 4;
      if (!skipPast("-->")) return false;
    }
  }

  // One predefined entity or character reference, p_ at '&'.
  bool reference(std::string& out) {
    static constexpr struct {
      std::string_view name;
      char character;
    } kPredefined[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (const auto& entity : kPredefined) {
      if (startsWith(entity.name)) {
        out.push_back(entity.character);
        p_ += entity.name.size();
        return true;
      }
    }
    if (!startsWith("&#")) return false;
    p_ += 2;
    const bool hex = p_ < end_ && *p_ == 'x';
    if (hex) ++p_;
    std::uint32_t code = 0;
    int digits = 0;
    for (; p_ < end_ && *p_ != ';'; ++p_, ++digits) {
      const char c = *p_;
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0 || digits >= 8) return false;
      code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    if (p_ == end_ || digits == 0 || !isXmlCharacter(code)) return false;
    ++p_;
    appendUtf8(out, static_cast<char32_t>(code));
    return true;
  }

  // The text of a leaf element up to its end tag: CDATA sections and
  // references resolved, comments left out. Unescaped text is not copied.
  bool leafText(std::string_view tagName, std::string_view& out) {
    const char* start = p_;
    const void* nextTag = std::memchr(p_, '<', left());
    if (!nextTag) return false;
    const char* stop = static_cast<const char*>(nextTag);
    if (!std::memchr(start, '&', static_cast<std::size_t>(stop - start))) {
      p_ = stop;
      if (endTag(tagName)) {
        out = std::string_view(start, static_cast<std::size_t>(stop - start));
        return true;
      }
      p_ = start;
    }
    scratch_.clear();
    while (p_ < end_) {
      const char c = *p_;
      if (c == '&') {
        if (!reference(scratch_)) return false;
      } else if (c != '<') {
        scratch_.push_back(c);
        ++p_;
      } else if (startsWith("<!--")) {
        p_ += 4;
        if (!skipPast("-->")) return false;
      } else if (startsWith("<![CDATA[")) {
        p_ += 9;
        const char* content = p_;
        if (!skipPast("]]>")) return false;
        scratch_.append(content, static_cast<std::size_t>(p_ - 3 - content));
      } else {
        if (!endTag(tagName)) return false;
        out = scratch_;
        return true;
      }
    }
    return false;
  }

  enum class Tag { Other, Dict, Array, String, Integer, Real, True, False, Date, Data };

  static Tag tagOf(std::string_view name) {
    switch (name.size()) {
      case 4:
        return name == "dict" ? Tag::Dict : name == "true" ? Tag::True : name == "date" ? Tag::Date
               : name == "data" ? Tag::Data : name == "real" ? Tag::Real : Tag::Other;
      case 5: return name == "array" ? Tag::Array : name == "false" ? Tag::False : Tag::Other;
      case 6: return name == "string" ? Tag::String : Tag::Other;
      case 7: return name == "integer" ? Tag::Integer : Tag::Other;
      default: return Tag::Other;
    }
  }

  bool readValue(std::string_view tagName, bool empty, Value& out, int depth) {
    const Tag tag = tagOf(tagName);
    if (tag == Tag::Dict) return readDictionary(empty, out, depth);
    if (tag == Tag::Array) return readArray(empty, out, depth);
    if (tag == Tag::Other) return false;
    std::string_view text;
    if (!empty && !leafText(tagName, text)) return false;
    switch (tag) {
      case Tag::String:
        if (!isValidUtf8(text)) return false;
        out = Value(text);
        return true;
      case Tag::Integer: {
        bool outOfRange = false;
        const std::optional<std::int64_t> integer = parseInteger(text, outOfRange);
        if (!integer) return false;
        out = Value(*integer);
        return true;
      }
      case Tag::Real: {
        const std::optional<double> real = parseReal(text);
        if (!real) return false;
        out = Value(*real);
        return true;
      }
      case Tag::True:
      case Tag::False:
        if (!isAllXmlSpace(text)) return false;
        out = Value(tag == Tag::True);
        return true;
      case Tag::Date: {
        const std::optional<Date> date = parseDate(text);
        if (!date) return false;
        out = Value(*date);
        return true;
      }
      case Tag::Data: {
        std::optional<Data> data = base64Decode(text);
        if (!data) return false;
        out = Value(std::move(*data));
        return true;
      }
      default:
        return false;
    }
  }

  // Entries are read into the dictionary where they stay; a repeated key is
  // read again into its entry, so the last one wins.
  bool readDictionary(bool empty, Value& out, int depth) {
    if (depth >= kPropertyListMaxDepth) return false;
    out = Value(Dictionary());
    if (empty) return true;
    Dictionary& dictionary = *out.dictionary();
    for (;;) {
      if (!skipMisc()) return false;
      if (atEndTag()) return endTag("dict");
      std::string_view tagName;
      bool tagEmpty = false;
      std::string_view key;
      if (!startTag(tagName, tagEmpty) || tagName != "key") return false;
      if (!tagEmpty && !leafText(tagName, key)) return false;
      if (!isValidUtf8(key)) return false;
      const auto entry = dictionary.emplace_hint(dictionary.end(), std::string(key), Value());
      if (!skipMisc() || !startTag(tagName, tagEmpty) || !readValue(tagName, tagEmpty, entry->second, depth + 1)) {
        return false;
      }
    }
  }

  // "<key>text</key>" followed by the start tag of its value; false at the
  // dictionary's end tag (then `atEnd`) or on anything else.
  bool keyAndValueTag(std::string_view& key, std::string_view& tagName, bool& tagEmpty, bool& atEnd) {
    atEnd = false;
    if (!skipMisc()) return false;
    if (atEndTag()) {
      atEnd = endTag("dict");
      return false;
    }
    if (!startTag(tagName, tagEmpty) || tagName != "key") return false;
    key = {};
    if (!tagEmpty && !leafText(tagName, key)) return false;
    if (!isValidUtf8(key)) return false;
    return skipMisc() && startTag(tagName, tagEmpty);
  }

  bool topLevelEntries(bool empty, PropertyListRecordVisitor& visitor) {
    if (empty) return true;
    std::string_view key;
    std::string_view tagName;
    bool tagEmpty = false;
    bool atEnd = false;
    while (keyAndValueTag(key, tagName, tagEmpty, atEnd)) {
      // The key may live in scratch_, which reading the value reuses.
      const bool record = tagOf(tagName) == Tag::Dict && visitor.takesRecord(key);
      if (record) {
        if (!recordEntries(tagEmpty, visitor)) return false;
        visitor.endRecord();
        continue;
      }
      std::string copiedKey(key);
      Value value;
      if (!readValue(tagName, tagEmpty, value, 1)) return false;
      visitor.entry(copiedKey, std::move(value));
    }
    return atEnd;
  }

  bool recordEntries(bool empty, PropertyListRecordVisitor& visitor) {
    if (empty) return true;
    std::string_view key;
    std::string_view tagName;
    bool tagEmpty = false;
    bool atEnd = false;
    while (keyAndValueTag(key, tagName, tagEmpty, atEnd)) {
      if (key.data() >= scratch_.data() && key.data() < scratch_.data() + scratch_.size()) {
        recordKey_.assign(key);
        key = recordKey_;
      }
      Value value;
      if (!readValue(tagName, tagEmpty, value, 2)) return false;
      visitor.recordEntry(key, std::move(value));
    }
    return atEnd;
  }

  // Elements gather on a stack shared by all arrays and move into their
  // array at its end, which is then allocated once at its final size.
  bool readArray(bool empty, Value& out, int depth) {
    if (depth >= kPropertyListMaxDepth) return false;
    out = Value(Array());
    if (empty) return true;
    const std::size_t first = pending_.size();
    for (;;) {
      if (!skipMisc()) return false;
      if (atEndTag()) break;
      std::string_view tagName;
      bool tagEmpty = false;
      // Read aside: nested arrays grow the stack while this element is read.
      Value element;
      if (!startTag(tagName, tagEmpty) || !readValue(tagName, tagEmpty, element, depth + 1)) return false;
      pending_.push_back(std::move(element));
    }
    if (!endTag("array")) return false;
    Array& array = *out.array();
    array.reserve(pending_.size() - first);
    std::move(pending_.begin() + static_cast<std::ptrdiff_t>(first), pending_.end(), std::back_inserter(array));
    pending_.resize(first);
    return true;
  }

  const char* p_;
  const char* const end_;
  std::string scratch_;
  std::string recordKey_;  // a record key that had to be unescaped, kept while its value is read
  std::vector<Value> pending_;
};

}  // namespace

std::optional<Value> readPlainXmlPropertyList(std::string_view bytes) { return PlainXmlReader(bytes).read(); }

bool visitPlainXmlPropertyListRecords(std::string_view bytes, PropertyListRecordVisitor& visitor) {
  return PlainXmlReader(bytes).records(visitor);
}

}  // namespace platform::detail
