#pragma once
// HTTPMessage: an HTTP/1.1 request or response head (start line and header
// fields) plus a body, built by appending the lines a socket reads, or made
// and serialised to be written. The WebSocket handshakes and the HTTP server
// use it.
//
// A value type; not shared between threads.
//
// Parsing (appendHeaderLine) is strict where leniency would be unsafe and says
// so: a line must end with CR LF; the start line must have three parts with an
// "HTTP/1.x" version and, for responses, a three-digit status; a header line
// needs a non-empty token name before ":"; folded (continued) lines, control
// characters and NUL bytes are refused. Limits: kMaxLineLength per line,
// kMaxHeaderLines header lines and kMaxHeaderBytes in all; beyond them the
// message is refused. Header names compare case-insensitively; a repeated
// field joins its values with ", ".

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace control {

class HTTPMessage {
 public:
  static constexpr std::size_t kMaxLineLength = 8190;
  static constexpr std::size_t kMaxHeaderLines = 100;
  static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

  enum class Kind { Request = 1, Response = 2 };
  enum class AppendResult {
    NeedMore = 1,   // line taken; the header goes on
    Complete = 2,   // the empty line ended the header
    Malformed = 3,  // refused: not a line of HTTP/1.x
    TooLarge = 4,   // refused: beyond the line, count or size limits
  };

  static HTTPMessage emptyRequest() { return HTTPMessage(Kind::Request); }
  static HTTPMessage emptyResponse() { return HTTPMessage(Kind::Response); }
  static HTTPMessage request(std::string method, std::string target, std::string version = "HTTP/1.1");
  // `reason` empty: the standard phrase of the code.
  static HTTPMessage response(int statusCode, std::string reason = {}, std::string version = "HTTP/1.1");
  static std::string standardReasonPhrase(int statusCode);

  // One line as read, with its CR LF. After a refusal every later call refuses too.
  AppendResult appendHeaderLine(std::string_view line);
  bool isHeaderComplete() const { return complete_; }
  bool isRequest() const { return kind_ == Kind::Request; }

  const std::string& method() const { return method_; }
  // The request target as sent ("/path?query").
  const std::string& target() const { return target_; }
  // The target's path (before "?"), and the query after it (none without "?").
  std::string path() const;
  std::optional<std::string> query() const;
  const std::string& version() const { return version_; }
  int statusCode() const { return status_; }
  const std::string& reasonPhrase() const { return reason_; }

  std::optional<std::string> headerField(std::string_view name) const;
  void setHeaderField(std::string name, std::string value);
  const std::vector<std::pair<std::string, std::string>>& allHeaderFields() const { return fields_; }
  std::size_t headerLineCount() const { return lines_; }

  const std::string& body() const { return body_; }
  void setBody(std::string body) { body_ = std::move(body); }
  void appendBody(std::string_view bytes) { body_.append(bytes); }

  // Start line, fields (in order set), empty line, body.
  std::string serialize() const;

 private:
  explicit HTTPMessage(Kind kind) : kind_(kind) {}
  AppendResult refuse(AppendResult result);
  bool parseStartLine(std::string_view line);

  Kind kind_;
  std::string method_;
  std::string target_;
  std::string version_;
  int status_ = 0;
  std::string reason_;
  std::vector<std::pair<std::string, std::string>> fields_;
  std::string body_;
  std::size_t lines_ = 0;
  std::size_t bytes_ = 0;
  bool started_ = false;
  bool complete_ = false;
  bool refused_ = false;
};

}  // namespace control
