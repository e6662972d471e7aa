#include "platform/PropertyList.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "platform/Base64.h"
#include "platform/Files.h"
#include "platform/PropertyListDetail.h"
#include "platform/Utf8.h"

namespace platform {

namespace detail {

std::string formatKeyPath(const std::vector<PathSegment>& path) {
  std::string out;
  for (const PathSegment& segment : path) {
    if (segment.isKey) {
      if (!out.empty()) out.push_back('.');
      out.append(segment.key);
    } else {
      out.push_back('[');
      out.append(std::to_string(segment.index));
      out.push_back(']');
    }
  }
  return out;
}

// "what (at byte N, key path "a.b[2]")"; userInfo carries both parts.
Error makeError(PropertyListErrorCode code, std::string_view prefix, std::string_view what,
                std::optional<std::int64_t> offset, const std::vector<PathSegment>* path) {
  std::string description(prefix);
  description.append(what);
  Dictionary userInfo;
  std::string where;
  if (offset && *offset >= 0) {
    where = "at byte " + std::to_string(*offset);
    userInfo.emplace(kPropertyListOffsetKey, Value(*offset));
  }
  if (path) {
    std::string keyPath = formatKeyPath(*path);
    if (!where.empty()) where += ", ";
    where += keyPath.empty() ? std::string("at the top level") : "key path \"" + keyPath + "\"";
    userInfo.emplace(kPropertyListKeyPathKey, Value(std::move(keyPath)));
  }
  if (!where.empty()) description += " (" + where + ")";
  return Error(kPropertyListErrorDomain, code, std::move(description), std::move(userInfo));
}

}  // namespace detail

namespace {

using detail::isAllXmlSpace;
using detail::kXmlEpilogue;
using detail::kXmlPrologue;
using detail::makeError;
using detail::parseDate;
using detail::parseInteger;
using detail::parseReal;
using detail::PathSegment;
using std::chrono::days;
using std::chrono::microseconds;
using std::chrono::seconds;

// Dates the XML form can carry: four-digit years.
const Date kEarliestXmlDate{std::chrono::sys_days{std::chrono::year{0} / 1 / 1}};
const Date kEndOfXmlDates{std::chrono::sys_days{std::chrono::year{10000} / 1 / 1}};

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when there is none.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
  const Utf8Character character = decodeUtf8(s, i);
  return character.wellFormed ? character.length : 0;
}

// Length of the character at s[i] when XML 1.0 can carry it; 0 for an
// ill-formed UTF-8 sequence, a control character other than tab, LF and CR,
// and U+FFFE/U+FFFF.
std::size_t xmlCharacterLength(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
  const std::size_t length = utf8SequenceLength(s, i);
  if (length == 3 && c == 0xEF && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
      static_cast<unsigned char>(s[i + 2]) >= 0xBE) {
    return 0;
  }
  return length;
}

// ---------------------------------------------------------------------------
// XML writer: appends to the caller's text. Stops at the first value it
// cannot write and keeps the reason with its key path.

class XmlWriter {
 public:
  explicit XmlWriter(std::string& out) : out_(out) {}

  const Error& error() const { return *error_; }

  bool writeKey(std::string_view key, int level) {
    indent(level);
    out_.append("<key>");
    if (!appendEscaped(key)) return fail("the key holds invalid UTF-8 or a character XML cannot carry");
    out_.append("</key>\n");
    return true;
  }

  bool writeValue(const Value& value, int level) {
    switch (value.type()) {
      case Value::Type::None:
        return fail("a none value cannot be written");
      case Value::Type::Dictionary:
        return writeDictionary(*value.dictionary(), level);
      case Value::Type::Array:
        return writeArray(*value.array(), level);
      case Value::Type::String:
        indent(level);
        out_.append("<string>");
        if (!appendEscaped(*value.string())) {
          return fail("the string holds invalid UTF-8 or a character XML cannot carry");
        }
        out_.append("</string>\n");
        return true;
      case Value::Type::Integer: {
        char buffer[24];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *value.integer());
        indent(level);
        out_.append("<integer>");
        out_.append(buffer, end);
        out_.append("</integer>\n");
        return true;
      }
      case Value::Type::Real:
        writeReal(*value.real(), level);
        return true;
      case Value::Type::Boolean:
        indent(level);
        out_.append(*value.boolean() ? "<true/>\n" : "<false/>\n");
        return true;
      case Value::Type::Date:
        return writeDate(*value.date(), level);
      case Value::Type::Data:
        writeData(*value.data(), level);
        return true;
    }
    return fail("unknown value type");
  }

 private:
  bool fail(std::string_view what) {
    error_ = makeError(PropertyListErrorCode::UnsupportedValue, "Cannot write property list: ", what, std::nullopt, &path_);
    return false;
  }

  void indent(int level) { out_.append(static_cast<std::size_t>(level), '\t'); }

  // Appends `text` with & < > escaped; false when it holds something XML 1.0
  // cannot carry.
  bool appendEscaped(std::string_view text) {
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < text.size()) {
      // Most text is plain ASCII: skip it without decoding.
      const auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x20 && c < 0x80 && c != '&' && c != '<' && c != '>') {
        ++i;
        continue;
      }
      const std::size_t length = xmlCharacterLength(text, i);
      if (length == 0) return false;
      const char* replacement = nullptr;
      switch (text[i]) {
        case '&': replacement = "&amp;"; break;
        case '<': replacement = "&lt;"; break;
        case '>': replacement = "&gt;"; break;
        default: break;
      }
      if (replacement) {
        out_.append(text.substr(runStart, i - runStart));
        out_.append(replacement);
        runStart = i + 1;
      }
      i += length;
    }
    out_.append(text.substr(runStart));
    return true;
  }

  bool writeDictionary(const Dictionary& dictionary, int level) {
    if (level >= kPropertyListMaxDepth) return fail("nesting is too deep");
    indent(level);
    if (dictionary.empty()) {
      out_.append("<dict/>\n");
      return true;
    }
    out_.append("<dict>\n");
    for (const auto& [key, child] : dictionary) {
      path_.push_back({key, 0, true});
      if (!writeKey(key, level + 1)) return false;
      if (!writeValue(child, level + 1)) return false;
      path_.pop_back();
    }
    indent(level);
    out_.append("</dict>\n");
    return true;
  }

  bool writeArray(const Array& array, int level) {
    if (level >= kPropertyListMaxDepth) return fail("nesting is too deep");
    indent(level);
    if (array.empty()) {
      out_.append("<array/>\n");
      return true;
    }
    out_.append("<array>\n");
    for (std::size_t i = 0; i < array.size(); ++i) {
      path_.push_back({{}, i, false});
      if (!writeValue(array[i], level + 1)) return false;
      path_.pop_back();
    }
    indent(level);
    out_.append("</array>\n");
    return true;
  }

  void writeReal(double real, int level) {
    indent(level);
    out_.append("<real>");
    if (std::isnan(real)) {
      out_.append("nan");
    } else if (std::isinf(real)) {
      out_.append(real > 0 ? "+infinity" : "-infinity");
    } else {
      // The same digits as printf("%.17g") in the C locale, whatever the
      // process locale is.
      char buffer[40];
      auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, real, std::chars_format::general, 17);
      out_.append(buffer, end);
    }
    out_.append("</real>\n");
  }

  bool writeDate(Date date, int level) {
    if (date < kEarliestXmlDate || date >= kEndOfXmlDates) return fail("the date lies outside the years 0000-9999");
    const auto wholeSeconds = std::chrono::floor<seconds>(date);
    const auto day = std::chrono::floor<days>(wholeSeconds);
    const std::chrono::year_month_day ymd{day};
    const std::chrono::hh_mm_ss time{wholeSeconds - day};
    char buffer[32];
    const int fields[] = {static_cast<int>(ymd.year()),         static_cast<int>(static_cast<unsigned>(ymd.month())),
                          static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(time.hours().count()),
                          static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count())};
    // YYYY-MM-DDTHH:MM:SSZ
    char* p = buffer;
    auto put = [&p](int value, int width) {
      for (int k = width - 1; k >= 0; --k) {
        p[k] = static_cast<char>('0' + value % 10);
        value /= 10;
      }
      p += width;
    };
    put(fields[0], 4);
    *p++ = '-';
    put(fields[1], 2);
    *p++ = '-';
    put(fields[2], 2);
    *p++ = 'T';
    put(fields[3], 2);
    *p++ = ':';
    put(fields[4], 2);
    *p++ = ':';
    put(fields[5], 2);
    *p++ = 'Z';
    indent(level);
    out_.append("<date>");
    out_.append(buffer, p);
    out_.append("</date>\n");
    return true;
  }

  void writeData(const Data& data, int level) {
    indent(level);
    out_.append("<data>\n");
    // Line length as a tab-stop-8 reader would measure it.
    const std::size_t lineLength = static_cast<std::size_t>(std::max(16, 76 - 8 * level)) / 4 * 4;
    const std::string encoded = base64Encode(data);
    for (std::size_t offset = 0; offset < encoded.size(); offset += lineLength) {
      indent(level);
      out_.append(std::string_view(encoded).substr(offset, lineLength));
      out_.push_back('\n');
    }
    indent(level);
    out_.append("</data>\n");
  }

  std::string& out_;
  std::vector<PathSegment> path_;
  std::optional<Error> error_;
};

// ---------------------------------------------------------------------------
// XML reader: one per readPropertyList() call, walking pugixml's DOM. Stops
// at the first problem and reports it with its byte offset and key path.

class XmlReader {
 public:
  Result<Value> read(std::string_view bytes) {
    Result<Value> value = read(bytes, Pass::Fast);
    if (needsFaithfulPass_) {
      needsFaithfulPass_ = false;
      error_.reset();
      value = read(bytes, Pass::Faithful);
    }
    return value;
  }

 private:
  // Whitespace-only text between elements makes up a large part of an
  // indented document, and pugixml builds a node for each run unless told to
  // keep only runs that are an element's sole content. That is exact for
  // every leaf whose content is one piece of text; a leaf split by CDATA, a
  // comment or a processing instruction may have lost whitespace next to the
  // split, so meeting one sends the whole document to a second, faithful pass.
  enum class Pass { Fast, Faithful };

  Result<Value> read(std::string_view bytes, Pass pass) {
    // No end-of-line folding: text keeps its carriage returns, so what the
    // writer wrote reads back unchanged.
    const unsigned options =
        pugi::parse_cdata | pugi::parse_escapes |
        (pass == Pass::Fast ? pugi::parse_ws_pcdata_single | pugi::parse_comments | pugi::parse_pi
                            : pugi::parse_ws_pcdata);
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(bytes.data(), bytes.size(), options, pugi::encoding_auto);
    if (!parsed) {
      return makeError(PropertyListErrorCode::Malformed, "Malformed property list: ",
                       std::string("XML is not well formed: ") + parsed.description(), parsed.offset, nullptr);
    }
    fastPass_ = pass == Pass::Fast;
    pugi::xml_node root;
    for (pugi::xml_node child = document.first_child(); child; child = child.next_sibling()) {
      if (child.type() == pugi::node_element) {
        if (root) return failAt(child, "more than one top-level element");
        root = child;
      } else if ((child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) &&
                 !isAllXmlSpace(child.value())) {
        return failAt(child, "text outside the top-level element");
      }
    }
    if (!root) return failAt(document, "no top-level element");
    pugi::xml_node top = root;
    if (std::strcmp(root.name(), "plist") == 0) {
      top = {};
      for (pugi::xml_node child = root.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element) {
          if (top) return failAt(child, "more than one value inside <plist>");
          top = child;
        } else if (!skippable(child)) {
          return failAt(child, "text inside <plist>");
        }
      }
      if (!top) return failAt(root, "<plist> holds no value");
    }
    top_ = top;
    Value value;
    if (!readValue(top, value, 0)) {
      if (needsFaithfulPass_) return Value();
      return std::move(*error_);
    }
    return value;
  }

  // Whitespace text, comments and processing instructions between elements.
  static bool skippable(pugi::xml_node node) {
    switch (node.type()) {
      case pugi::node_pcdata:
      case pugi::node_cdata:
        return isAllXmlSpace(node.value());
      case pugi::node_element:
        return false;
      default:
        return true;
    }
  }

  // An error at `node` whose key path leads to `context` (a value element,
  // or none for the top level), plus `lastKey` when given.
  Error failAt(pugi::xml_node node, std::string_view what, pugi::xml_node context = {},
               std::optional<std::string_view> lastKey = std::nullopt) {
    std::ptrdiff_t offset = node.offset_debug();
    // pugixml points at an element's name; the tag starts one byte earlier.
    if (node.type() == pugi::node_element && offset > 0) --offset;
    std::deque<std::string> keys;
    std::vector<PathSegment> path = pathTo(context, keys);
    if (lastKey) path.push_back({*lastKey, 0, true});
    return makeError(PropertyListErrorCode::Malformed, "Malformed property list: ", what, offset, &path);
  }

  // The failing element is itself the value whose key path is reported.
  bool fail(pugi::xml_node node, std::string_view what) { return failIn(node, node, what); }

  bool failIn(pugi::xml_node context, pugi::xml_node node, std::string_view what) {
    error_ = failAt(node, what, context);
    return false;
  }

  // The key path of a value element, rebuilt from the document only when an
  // error needs it, so reading keeps no path of its own. `keys` holds the
  // text of keys that had to be joined.
  std::vector<PathSegment> pathTo(pugi::xml_node value, std::deque<std::string>& keys) const {
    std::vector<PathSegment> path;
    for (pugi::xml_node node = value; node && node != top_; node = node.parent()) {
      const pugi::xml_node parent = node.parent();
      if (!parent || parent.type() != pugi::node_element) break;
      const Tag container = tagOf(parent.name());
      if (container == Tag::Array) {
        std::size_t index = 0;
        for (pugi::xml_node before = node.previous_sibling(); before; before = before.previous_sibling()) {
          index += before.type() == pugi::node_element ? 1 : 0;
        }
        path.push_back({{}, index, false});
      } else if (container == Tag::Dict) {
        pugi::xml_node key = node.previous_sibling();
        while (key && key.type() != pugi::node_element) key = key.previous_sibling();
        std::string& text = keys.emplace_back();
        for (pugi::xml_node part = key.first_child(); part; part = part.next_sibling()) {
          if (part.type() == pugi::node_pcdata || part.type() == pugi::node_cdata) text.append(part.value());
        }
        path.push_back({text, 0, true});
      } else {
        break;
      }
    }
    std::reverse(path.begin(), path.end());
    return path;
  }

  // The character content of a leaf element: its text and CDATA children
  // joined. Fails on child elements, reporting the key path of `context`.
  bool text(pugi::xml_node node, std::string_view& out, pugi::xml_node context) {
    pugi::xml_node first = node.first_child();
    if (!first) {
      out = {};
      return true;
    }
    if (!first.next_sibling() && first.type() == pugi::node_pcdata) {
      out = first.value();
      return true;
    }
    if (fastPass_) {
      needsFaithfulPass_ = true;
      return false;
    }
    scratch_.clear();
    for (pugi::xml_node child = first; child; child = child.next_sibling()) {
      switch (child.type()) {
        case pugi::node_pcdata:
        case pugi::node_cdata:
          scratch_.append(child.value());
          break;
        case pugi::node_element:
          return failIn(context, child, std::string("unexpected <") + child.name() + "> inside <" + node.name() + ">");
        default:
          break;
      }
    }
    out = scratch_;
    return true;
  }

  enum class Tag { Unknown, String, Dict, Array, Integer, Real, True, False, Date, Data, Key };

  // From pugixml's NUL-terminated name, without measuring it first.
  static Tag tagOf(const char* name) {
    const auto is = [name](const char* rest) { return std::strcmp(name + 1, rest) == 0; };
    switch (name[0]) {
      case 's': return is("tring") ? Tag::String : Tag::Unknown;
      case 'd': return is("ict") ? Tag::Dict : is("ate") ? Tag::Date : is("ata") ? Tag::Data : Tag::Unknown;
      case 'a': return is("rray") ? Tag::Array : Tag::Unknown;
      case 'i': return is("nteger") ? Tag::Integer : Tag::Unknown;
      case 'r': return is("eal") ? Tag::Real : Tag::Unknown;
      case 't': return is("rue") ? Tag::True : Tag::Unknown;
      case 'f': return is("alse") ? Tag::False : Tag::Unknown;
      case 'k': return is("ey") ? Tag::Key : Tag::Unknown;
      default: return Tag::Unknown;
    }
  }

  bool readValue(pugi::xml_node node, Value& out, int depth) {
    const char* const name = node.name();
    std::string_view content;
    switch (tagOf(name)) {
      case Tag::String:
        if (!text(node, content, node)) return false;
        if (!isValidUtf8(content)) return fail(node, "<string> is not valid UTF-8");
        out = Value(content);
        return true;
      case Tag::Dict:
        return readDictionary(node, out, depth);
      case Tag::Array:
        return readArray(node, out, depth);
      case Tag::Integer: {
        if (!text(node, content, node)) return false;
        bool outOfRange = false;
        std::optional<std::int64_t> integer = parseInteger(content, outOfRange);
        if (!integer) {
          return fail(node, outOfRange ? "<integer> does not fit in 64 bits" : "<integer> is not a number");
        }
        out = Value(*integer);
        return true;
      }
      case Tag::Real: {
        if (!text(node, content, node)) return false;
        std::optional<double> real = parseReal(content);
        if (!real) return fail(node, "<real> is not a number");
        out = Value(*real);
        return true;
      }
      case Tag::True:
      case Tag::False:
        if (!text(node, content, node)) return false;
        if (!isAllXmlSpace(content)) return fail(node, "<" + std::string(name) + "> holds text");
        out = Value(name[0] == 't');
        return true;
      case Tag::Date: {
        if (!text(node, content, node)) return false;
        std::optional<Date> date = parseDate(content);
        if (!date) return fail(node, "<date> is not an ISO-8601 UTC date");
        out = Value(*date);
        return true;
      }
      case Tag::Data: {
        if (!text(node, content, node)) return false;
        std::size_t badOffset = 0;
        std::optional<Data> data = base64Decode(content, &badOffset);
        if (!data) return fail(node, "<data> is not Base64 (character " + std::to_string(badOffset) + " of its text)");
        out = Value(std::move(*data));
        return true;
      }
      case Tag::Key:
        return fail(node, "<key> outside a dictionary");
      case Tag::Unknown:
        break;
    }
    return fail(node, "unknown element <" + std::string(name) + ">");
  }

  // Containers are filled where they will stay: no value is moved after it
  // has been read.
  bool readDictionary(pugi::xml_node node, Value& out, int depth) {
    if (depth >= kPropertyListMaxDepth) return fail(node, "nesting is too deep");
    out = Value(Dictionary());
    Dictionary& dictionary = *out.dictionary();
    std::string key;
    bool haveKey = false;
    pugi::xml_node keyNode;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) {
        if (!skippable(child)) return failIn(node, child, "text inside <dict>");
        continue;
      }
      if (!haveKey) {
        if (tagOf(child.name()) != Tag::Key) {
          return failIn(node, child, std::string("expected <key> in <dict>, found <") + child.name() + ">");
        }
        std::string_view content;
        if (!text(child, content, node)) return false;
        if (!isValidUtf8(content)) return failIn(node, child, "<key> is not valid UTF-8");
        key.assign(content);
        keyNode = child;
        haveKey = true;
        continue;
      }
      // Keys usually arrive sorted: the end hint makes that insertion O(1).
      // A repeated key is read again into its entry, so the last one wins.
      const auto entry = dictionary.emplace_hint(dictionary.end(), std::move(key), Value());
      if (!readValue(child, entry->second, depth + 1)) return false;
      key = std::string();
      haveKey = false;
    }
    if (haveKey) {
      error_ = failAt(keyNode, "<key> has no value", node, key);
      return false;
    }
    return true;
  }

  bool readArray(pugi::xml_node node, Value& out, int depth) {
    if (depth >= kPropertyListMaxDepth) return fail(node, "nesting is too deep");
    out = Value(Array());
    Array& array = *out.array();
    std::size_t count = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      count += child.type() == pugi::node_element ? 1 : 0;
    }
    array.reserve(count);
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) {
        if (!skippable(child)) return failIn(node, child, "text inside <array>");
        continue;
      }
      if (!readValue(child, array.emplace_back(), depth + 1)) return false;
    }
    return true;
  }

  pugi::xml_node top_;  // the value at the top level: its key path is empty
  std::string scratch_;
  std::optional<Error> error_;
  bool fastPass_ = false;
  bool needsFaithfulPass_ = false;
};


}  // namespace

namespace detail {

Result<Value> readXmlPropertyList(std::string_view bytes) { return XmlReader().read(bytes); }

}  // namespace detail

Result<Value> readPropertyList(std::string_view bytes) {
  if (bytes.empty()) {
    return makeError(PropertyListErrorCode::Malformed, "Malformed property list: ", "the input is empty", 0, nullptr);
  }
  if (bytes.substr(0, 6) == "bplist" && bytes.substr(0, detail::kBinaryPropertyListMagic.size()) != detail::kBinaryPropertyListMagic) {
    return makeError(PropertyListErrorCode::Malformed, "Malformed property list: ",
                     "unsupported binary property-list version", 6, nullptr);
  }
  try {
    if (bytes.substr(0, detail::kBinaryPropertyListMagic.size()) == detail::kBinaryPropertyListMagic) return detail::readBinaryPropertyList(bytes);
    if (std::optional<Value> value = detail::readPlainXmlPropertyList(bytes)) return std::move(*value);
    return detail::readXmlPropertyList(bytes);
  } catch (const std::bad_alloc&) {
    // Allocations are bounded by the input's size, but that may still be
    // more than the process can have.
    return makeError(PropertyListErrorCode::Malformed, "Malformed property list: ", "out of memory while reading",
                     std::nullopt, nullptr);
  }
}

bool visitPlainPropertyListRecords(std::string_view bytes, PropertyListRecordVisitor& visitor) {
  try {
    return detail::visitPlainXmlPropertyListRecords(bytes, visitor);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace detail {

bool appendXmlKey(std::string& out, std::string_view key, int level) { return XmlWriter(out).writeKey(key, level); }

bool appendXmlValue(std::string& out, const Value& value, int level) {
  return XmlWriter(out).writeValue(value, level);
}

}  // namespace detail

Result<std::string> writePropertyList(const Value& value) {
  try {
    std::string out;
    out.reserve(1024);
    out.append(kXmlPrologue);
    XmlWriter writer(out);
    if (!writer.writeValue(value, 0)) return writer.error();
    out.append(kXmlEpilogue);
    return out;
  } catch (const std::bad_alloc&) {
    return Error(kPropertyListErrorDomain, PropertyListErrorCode::UnsupportedValue,
                 "Cannot write property list: out of memory");
  }
}

Status checkPropertyListWritable(const Value& value) {
  Result<std::string> written = writePropertyList(value);
  if (!written.ok()) return written.error();
  return Status::success();
}

std::string propertyListSafeText(std::string_view text) {
  std::string safe;
  std::size_t runStart = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (const std::size_t length = xmlCharacterLength(text, i)) {
      i += length;
      continue;
    }
    if (safe.empty()) safe.reserve(text.size() + 2);
    safe.append(text.substr(runStart, i - runStart));
    appendUtf8(safe, kReplacementCharacter);
    i += decodeUtf8(text, i).length;
    runStart = i;
  }
  if (runStart == 0) return std::string(text);
  safe.append(text.substr(runStart));
  return safe;
}

void makePropertyListSafe(Value& value) {
  if (const std::string* text = value.string()) {
    std::string safe = propertyListSafeText(*text);
    if (safe != *text) value = Value(std::move(safe));
  } else if (Array* array = value.array()) {
    for (Value& element : *array) makePropertyListSafe(element);
  } else if (Dictionary* dictionary = value.dictionary()) {
    bool keysAreSafe = true;
    for (auto& [key, element] : *dictionary) {
      makePropertyListSafe(element);
      keysAreSafe = keysAreSafe && propertyListSafeText(key) == key;
    }
    if (keysAreSafe) return;
    Dictionary safe;
    // Two keys may become one: the later one wins, as duplicate keys do on reading.
    for (auto& [key, element] : *dictionary) safe.insert_or_assign(propertyListSafeText(key), std::move(element));
    *dictionary = std::move(safe);
  }
}

Result<Value> readPropertyListFile(const std::filesystem::path& path) {
  Result<std::string> bytes = readFile(path);
  if (!bytes.ok()) {
    return Error(kPropertyListErrorDomain, PropertyListErrorCode::FileUnreadable,
                 "Cannot read property list " + path.string() + ": " + bytes.error().localizedDescription);
  }
  Result<Value> value = readPropertyList(*bytes);
  if (!value.ok()) {
    Error error = value.error();
    error.localizedDescription = path.string() + ": " + error.localizedDescription;
    return error;
  }
  return value;
}

Status writePropertyListFile(const std::filesystem::path& path, const Value& value) {
  Result<std::string> bytes = writePropertyList(value);
  if (!bytes.ok()) return bytes.error();
  Status written = writeFileAtomically(path, *bytes);
  if (!written.ok()) {
    return Error(kPropertyListErrorDomain, PropertyListErrorCode::FileUnwritable,
                 "Cannot write property list " + path.string() + ": " + written.error().localizedDescription);
  }
  return Status::success();
}

}  // namespace platform
