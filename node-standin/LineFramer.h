#pragma once
// LineFramer: cuts the byte stream of one client into command lines.
//
// A command ends with LF followed by CR ("\n\r"), the form clients send. For
// people typing at a terminal a lone LF and CR LF end a command too. Commands
// that carry a property list ("pladditems <?xml ...") hold LFs of their own,
// so while a line has an XML header ("<?xml") not yet closed by "</plist>",
// only LF CR ends it; a lone LF there is part of the text.
//
// Leniencies and limits:
// - surrounding CRs and LFs are trimmed from each line, blanks are kept (a
//   password may hold them); lines of blanks only are skipped (so the LF CR
//   that follows "</plist>\n" yields nothing);
// - a line that grows beyond maxLineBytes without an end is refused
//   (TooLong); the framer is then spent and the caller closes the link;
// - once every byte received has been handed out, a large buffer goes back
//   (ClientBuffer), so a client that sent one huge line does not keep it;
// - bytes are not checked here (UTF-8 is checked when the line is parsed).
//
// Owned by one client connection; used on one thread.

#include <cstddef>
#include <string>
#include <string_view>

#include "node-standin/ClientBuffer.h"

namespace standin {

class LineFramer {
 public:
  enum class Outcome { Line = 1, NeedMore = 2, TooLong = 3 };
  struct Next {
    Outcome outcome = Outcome::NeedMore;
    std::string line;  // set for Outcome::Line
  };

  explicit LineFramer(std::size_t maxLineBytes);

  void append(std::string_view bytes);
  // The next complete line, or why there is none yet.
  Next next();

  // Bytes received and not yet handed out as lines.
  std::size_t pendingBytes() const { return buffer_.size() - lineStart_; }

 private:
  void updateXmlState(std::size_t end);
  void startNextLine(std::size_t position);

  std::size_t maxLineBytes_;
  ClientBuffer buffer_;
  std::size_t lineStart_ = 0;     // first byte of the current line in buffer_
  std::size_t scanPosition_ = 0;  // where the search for the next LF resumes
  std::size_t xmlScanned_ = 0;    // bytes of the current line already searched for XML markers
  bool insideXml_ = false;        // the current line opened "<?xml" and has not closed "</plist>"
};

}  // namespace standin
