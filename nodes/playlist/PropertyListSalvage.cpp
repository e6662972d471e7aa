#include "nodes/playlist/PropertyListSalvage.h"

#include <utility>

#include "platform/PropertyList.h"

namespace nodes::detail {
namespace {

constexpr std::string_view kWrapperHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
constexpr std::string_view kWrapperTail = "\n</dict>\n</plist>\n";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A forward-only reader of XML markup; every step fails (false) rather than
// read past the end of the text.
class MarkupScanner {
 public:
  explicit MarkupScanner(std::string_view text) : text_(text) {}

  std::size_t position() const { return pos_; }
  bool atEnd() const { return pos_ >= text_.size(); }
  bool startsWith(std::string_view prefix) const { return text_.substr(pos_).starts_with(prefix); }
  void skipPrefix(std::string_view prefix) {
    if (startsWith(prefix)) pos_ += prefix.size();
  }

  // Skips white space, comments, processing instructions and a DOCTYPE.
  bool skipMisc() {
    for (;;) {
      while (!atEnd() && isSpace(text_[pos_])) ++pos_;
      if (startsWith("<!--")) {
        if (!skipPast("-->", 4)) return false;
      } else if (startsWith("<?")) {
        if (!skipPast("?>", 2)) return false;
      } else if (startsWith("<!DOCTYPE")) {
        if (!skipDoctype()) return false;
      } else {
        return true;
      }
    }
  }

  // At '<' of a start tag: reads it up to its '>'.
  bool readStartTag(std::string_view& name, bool& selfClosing) {
    if (!startsWith("<")) return false;
    std::size_t i = pos_ + 1;
    const std::size_t nameStart = i;
    while (i < text_.size() && !isSpace(text_[i]) && text_[i] != '/' && text_[i] != '>') ++i;
    if (i == nameStart) return false;
    name = text_.substr(nameStart, i - nameStart);
    for (; i < text_.size(); ++i) {
      const char c = text_[i];
      if (c == '"' || c == '\'') {
        i = text_.find(c, i + 1);
        if (i == std::string_view::npos) return false;
      } else if (c == '>') {
        selfClosing = text_[i - 1] == '/';
        pos_ = i + 1;
        return true;
      }
    }
    return false;
  }

  // At '<' of a start tag: skips the whole element, counting nested tags.
  bool skipElement() {
    std::string_view name;
    bool selfClosing = false;
    if (!readStartTag(name, selfClosing)) return false;
    std::size_t depth = selfClosing ? 0 : 1;
    while (depth > 0) {
      pos_ = text_.find('<', pos_);
      if (pos_ == std::string_view::npos) {
        pos_ = text_.size();
        return false;
      }
      if (startsWith("<!--")) {
        if (!skipPast("-->", 4)) return false;
      } else if (startsWith("<![CDATA[")) {
        if (!skipPast("]]>", 9)) return false;
      } else if (startsWith("<?")) {
        if (!skipPast("?>", 2)) return false;
      } else if (startsWith("</")) {
        if (!skipPast(">", 2)) return false;
        --depth;
      } else if (startsWith("<!")) {
        if (!skipPast(">", 2)) return false;
      } else {
        if (!readStartTag(name, selfClosing)) return false;
        if (!selfClosing) ++depth;
      }
    }
    return true;
  }

  // At "<key": the key's raw text (character references left as written).
  bool readKey(std::string& key) {
    std::string_view name;
    bool selfClosing = false;
    if (!readStartTag(name, selfClosing) || name != "key") return false;
    if (selfClosing) {
      key.clear();
      return true;
    }
    const std::size_t end = text_.find("</key>", pos_);
    if (end == std::string_view::npos) return false;
    key.assign(text_.substr(pos_, end - pos_));
    pos_ = end + 6;
    return true;
  }

 private:
  bool skipPast(std::string_view terminator, std::size_t openerLength) {
    const std::size_t end = text_.find(terminator, pos_ + openerLength);
    if (end == std::string_view::npos) {
      pos_ = text_.size();
      return false;
    }
    pos_ = end + terminator.size();
    return true;
  }

  bool skipDoctype() {
    int brackets = 0;
    for (std::size_t i = pos_ + 9; i < text_.size(); ++i) {
      const char c = text_[i];
      if (c == '"' || c == '\'') {
        i = text_.find(c, i + 1);
        if (i == std::string_view::npos) break;
      } else if (c == '[') {
        ++brackets;
      } else if (c == ']') {
        --brackets;
      } else if (c == '>' && brackets <= 0) {
        pos_ = i + 1;
        return true;
      }
    }
    pos_ = text_.size();
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

struct Span {
  std::size_t begin;
  std::size_t end;
  std::string key;
};

platform::Error salvageError(std::string reason) {
  return platform::Error(platform::kPropertyListErrorDomain, platform::PropertyListErrorCode::Malformed,
                         "Nothing of the property list could be saved: " + std::move(reason));
}

std::string inQuotes(const std::string& key) { return "\"" + key + "\""; }

// Where the scan stopped, as one line for the operator.
std::string stopProblem(const MarkupScanner& scanner, const std::vector<Span>& spans, std::string_view inside) {
  const std::string after = spans.empty() ? "before the first entry" : "after the entry " + inQuotes(spans.back().key);
  if (!inside.empty()) return "the file is cut short inside the entry " + std::string(inside) + "; the rest is missing";
  if (scanner.atEnd()) return "the file is cut short " + after + "; the rest is missing";
  return "unreadable text at byte " + std::to_string(scanner.position()) + " " + after + "; the rest is left out";
}

std::string wrapped(std::string_view entries) {
  std::string text;
  text.reserve(kWrapperHead.size() + entries.size() + kWrapperTail.size());
  text.append(kWrapperHead).append(entries).append(kWrapperTail);
  return text;
}

}  // namespace

platform::Result<SalvagedDictionary> salvagePropertyListDictionary(std::string_view xml) {
  if (xml.starts_with("bplist") || xml.starts_with("\xFE\xFF") || xml.starts_with("\xFF\xFE")) {
    return salvageError("only XML text in UTF-8 can be salvaged");
  }
  MarkupScanner scanner(xml);
  scanner.skipPrefix("\xEF\xBB\xBF");
  std::string_view name;
  bool selfClosing = false;
  if (!scanner.skipMisc() || !scanner.readStartTag(name, selfClosing) || name != "plist" || selfClosing ||
      !scanner.skipMisc() || !scanner.readStartTag(name, selfClosing) || name != "dict" || selfClosing) {
    return salvageError("no root dictionary");
  }

  std::vector<Span> spans;
  SalvagedDictionary salvaged;
  for (;;) {
    if (!scanner.skipMisc() || scanner.atEnd()) {
      salvaged.problems.push_back(stopProblem(scanner, spans, {}));
      break;
    }
    if (scanner.startsWith("</")) break;  // the end of the root: every entry was whole
    const std::size_t begin = scanner.position();
    std::string key;
    if (!scanner.startsWith("<key") || !scanner.readKey(key)) {
      salvaged.problems.push_back(stopProblem(scanner, spans, {}));
      break;
    }
    if (!scanner.skipMisc() || !scanner.startsWith("<") || scanner.startsWith("</") || !scanner.skipElement()) {
      salvaged.problems.push_back(stopProblem(scanner, spans, inQuotes(key)));
      break;
    }
    spans.push_back(Span{begin, scanner.position(), std::move(key)});
  }
  if (spans.empty()) return salvageError(salvaged.problems.empty() ? "no entries" : salvaged.problems.front());

  // Usually every whole entry reads; only when one does not, read them singly.
  platform::Result<platform::Value> all =
      platform::readPropertyList(wrapped(xml.substr(spans.front().begin, spans.back().end - spans.front().begin)));
  if (all.ok() && all->dictionary()) {
    salvaged.entries = std::move(*all->dictionary());
    return salvaged;
  }
  for (const Span& span : spans) {
    platform::Result<platform::Value> one =
        platform::readPropertyList(wrapped(xml.substr(span.begin, span.end - span.begin)));
    if (one.ok() && one->dictionary()) {
      for (auto& [key, value] : *one->dictionary()) salvaged.entries.insert_or_assign(key, std::move(value));
    } else {
      salvaged.problems.push_back("the entry " + inQuotes(span.key) + " cannot be read" +
                                  (one.ok() ? std::string() : ": " + one.error().localizedDescription));
    }
  }
  if (salvaged.entries.empty()) return salvageError("no readable entries");
  return salvaged;
}

}  // namespace nodes::detail
