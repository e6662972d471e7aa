#include "nodes/link/NodeReplyFraming.h"

#include <algorithm>

namespace nodes {
namespace {

constexpr std::string_view kXMLBeginning = "<?xml ver";
constexpr std::string_view kXMLEnd = "</plist>";
constexpr std::string_view kBlanks = " \t\r\n";

bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

// Line ends before `start` are stale bytes of an earlier reply, not this one's end.
std::optional<std::size_t> plainReplyEnd(std::string_view data, std::size_t start, std::size_t searchedBytes) {
  const std::size_t lineFeed = data.find('\n', std::min(std::max(start, searchedBytes), data.size()));
  if (lineFeed == std::string_view::npos) return std::nullopt;
  return lineFeed + 1;
}

}  // namespace

bool nodeReplyIsPropertyList(std::string_view data, bool requiresXMLResponse) {
  if (!requiresXMLResponse) return false;
  const std::size_t start = data.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return true;  // nothing but stale line ends yet
  const std::string_view body = data.substr(start);
  return body.size() < kXMLBeginning.size() ? kXMLBeginning.starts_with(body) : body.starts_with(kXMLBeginning);
}

std::size_t nodeReplyLimit(std::string_view data, bool requiresXMLResponse) {
  return nodeReplyIsPropertyList(data, requiresXMLResponse) ? kMaxPropertyListReplyBytes : kMaxPlainReplyBytes;
}

std::optional<std::size_t> nodeReplyEnd(std::string_view data, bool requiresXMLResponse, std::size_t searchedBytes) {
  // A reply that may be a property list starts after stale line-end bytes.
  const std::size_t start = requiresXMLResponse ? std::min(data.find_first_not_of(kBlanks), data.size()) : 0;
  if (!nodeReplyIsPropertyList(data, requiresXMLResponse)) return plainReplyEnd(data, start, searchedBytes);
  if (data.size() - start < kXMLBeginning.size()) return std::nullopt;
  // The end tag may straddle what was searched before and what is new.
  const std::size_t from = std::max(start, searchedBytes >= kXMLEnd.size() ? searchedBytes - (kXMLEnd.size() - 1) : 0);
  const std::size_t tag = data.find(kXMLEnd, from);
  if (tag == std::string_view::npos) return std::nullopt;
  std::size_t end = tag + kXMLEnd.size();
  while (end < data.size() && isLineEnd(data[end])) ++end;
  return end;
}

}  // namespace nodes
