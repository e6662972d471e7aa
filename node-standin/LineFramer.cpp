#include "node-standin/LineFramer.h"

#include <algorithm>

namespace standin {
namespace {

constexpr std::string_view kXmlOpening = "<?xml";
constexpr std::string_view kXmlClosing = "</plist>";

// The line without its surrounding line ends; empty for blanks only.
std::string_view trimmed(std::string_view text) {
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return {};
  constexpr std::string_view kLineEnds = "\r\n";
  const std::size_t first = text.find_first_not_of(kLineEnds);
  const std::size_t last = text.find_last_not_of(kLineEnds);
  return text.substr(first, last - first + 1);
}

}  // namespace

LineFramer::LineFramer(std::size_t maxLineBytes) : maxLineBytes_(maxLineBytes) {}

void LineFramer::append(std::string_view bytes) {
  if (lineStart_ == buffer_.size()) {
    clearClientBuffer(buffer_);
    lineStart_ = scanPosition_ = xmlScanned_ = 0;
  }
  // Drop consumed lines once they make up most of the buffer, so that many
  // short commands in one read do not cost a copy each.
  if (lineStart_ > 0 && lineStart_ >= buffer_.size() / 2) {
    buffer_.erase(0, lineStart_);
    scanPosition_ -= lineStart_;
    xmlScanned_ -= lineStart_;
    lineStart_ = 0;
  }
  buffer_.append(bytes);
}

// Brings insideXml_ up to date for the bytes of the current line before `end`.
// Markers may straddle the previous scan limit, so the search backs up by a
// marker's length; finding a marker twice is harmless because only the order
// of the last ones matters.
void LineFramer::updateXmlState(std::size_t end) {
  std::size_t from = std::max(lineStart_, xmlScanned_ >= kXmlClosing.size() ? xmlScanned_ - kXmlClosing.size() : 0);
  const std::string_view text(buffer_.data() + from, end - from);
  std::size_t position = 0;
  while (true) {
    const std::size_t opening = text.find(kXmlOpening, position);
    const std::size_t closing = text.find(kXmlClosing, position);
    if (opening == std::string_view::npos && closing == std::string_view::npos) break;
    if (closing == std::string_view::npos || (opening != std::string_view::npos && opening < closing)) {
      insideXml_ = true;
      position = opening + kXmlOpening.size();
    } else {
      insideXml_ = false;
      position = closing + kXmlClosing.size();
    }
  }
  xmlScanned_ = std::max(xmlScanned_, end);
}

void LineFramer::startNextLine(std::size_t position) {
  lineStart_ = position;
  scanPosition_ = position;
  xmlScanned_ = position;
  insideXml_ = false;
}

LineFramer::Next LineFramer::next() {
  while (true) {
    const std::size_t lineFeed = buffer_.find('\n', scanPosition_);
    if (lineFeed == std::string::npos) {
      scanPosition_ = buffer_.size();
      if (buffer_.size() - lineStart_ > maxLineBytes_) return {Outcome::TooLong, {}};
      return {Outcome::NeedMore, {}};
    }
    if (lineFeed - lineStart_ > maxLineBytes_) return {Outcome::TooLong, {}};

    const bool byteAfterKnown = lineFeed + 1 < buffer_.size();
    const bool carriageReturnFollows = byteAfterKnown && buffer_[lineFeed + 1] == '\r';
    if (!carriageReturnFollows) {
      updateXmlState(lineFeed);
      if (insideXml_) {
        if (!byteAfterKnown) {
          // Whether a CR follows is not known yet: look again when more arrives.
          scanPosition_ = lineFeed;
          return {Outcome::NeedMore, {}};
        }
        scanPosition_ = lineFeed + 1;
        continue;
      }
    }

    const std::string_view line = trimmed(std::string_view(buffer_).substr(lineStart_, lineFeed - lineStart_));
    std::string result(line);
    startNextLine(lineFeed + (carriageReturnFollows ? 2 : 1));
    if (!result.empty()) return {Outcome::Line, std::move(result)};
  }
}

}  // namespace standin
