#include "control/websocket/HTTPMessage.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace control {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool isTokenChar(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), isTokenChar); }

bool hasControlCharacters(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7f;
  });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool isHttpVersion(std::string_view text) { return text == "HTTP/1.1" || text == "HTTP/1.0"; }

}  // namespace

HTTPMessage HTTPMessage::request(std::string method, std::string target, std::string version) {
  HTTPMessage message(Kind::Request);
  message.method_ = std::move(method);
  message.target_ = std::move(target);
  message.version_ = std::move(version);
  message.started_ = message.complete_ = true;
  return message;
}

HTTPMessage HTTPMessage::response(int statusCode, std::string reason, std::string version) {
  HTTPMessage message(Kind::Response);
  message.status_ = statusCode;
  message.reason_ = reason.empty() ? standardReasonPhrase(statusCode) : std::move(reason);
  message.version_ = std::move(version);
  message.started_ = message.complete_ = true;
  return message;
}

std::string HTTPMessage::standardReasonPhrase(int statusCode) {
  switch (statusCode) {
    case 100: return "Continue";
    case 101: return "Switching Protocols";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 426: return "Upgrade Required";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

HTTPMessage::AppendResult HTTPMessage::refuse(AppendResult result) {
  refused_ = true;
  return result;
}

bool HTTPMessage::parseStartLine(std::string_view line) {
  const auto first = line.find(' ');
  if (first == std::string_view::npos) return false;
  const auto second = line.find(' ', first + 1);
  if (kind_ == Kind::Request) {
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos) return false;
    std::string_view method = line.substr(0, first);
    std::string_view target = line.substr(first + 1, second - first - 1);
    std::string_view version = line.substr(second + 1);
    if (!isToken(method) || target.empty() || !isHttpVersion(version)) return false;
    method_ = method;
    target_ = target;
    version_ = version;
    return true;
  }
  std::string_view version = line.substr(0, first);
  std::string_view code = second == std::string_view::npos ? line.substr(first + 1) : line.substr(first + 1, second - first - 1);
  if (!isHttpVersion(version) || code.size() != 3) return false;
  int status = 0;
  auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), status);
  if (ec != std::errc() || end != code.data() + code.size() || status < 100) return false;
  version_ = version;
  status_ = status;
  reason_ = second == std::string_view::npos ? std::string() : std::string(line.substr(second + 1));
  return true;
}

HTTPMessage::AppendResult HTTPMessage::appendHeaderLine(std::string_view line) {
  if (refused_ || complete_) return refuse(AppendResult::Malformed);
  if (line.size() > kMaxLineLength) return refuse(AppendResult::TooLarge);
  bytes_ += line.size();
  if (bytes_ > kMaxHeaderBytes) return refuse(AppendResult::TooLarge);
  if (line.size() < 2 || line.substr(line.size() - 2) != "\r\n") return refuse(AppendResult::Malformed);
  line.remove_suffix(2);
  if (hasControlCharacters(line)) return refuse(AppendResult::Malformed);
  if (!started_) {
    if (!parseStartLine(line)) return refuse(AppendResult::Malformed);
    started_ = true;
    return AppendResult::NeedMore;
  }
  if (line.empty()) {
    complete_ = true;
    return AppendResult::Complete;
  }
  if (++lines_ > kMaxHeaderLines) return refuse(AppendResult::TooLarge);
  // A folded line (leading white space) is refused, never joined.
  const auto colon = line.find(':');
  if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) return refuse(AppendResult::Malformed);
  std::string name(line.substr(0, colon));
  std::string value(trimmed(line.substr(colon + 1)));
  for (auto& [existing, existingValue] : fields_) {
    if (equalsIgnoringCase(existing, name)) {
      existingValue += ", " + value;
      return AppendResult::NeedMore;
    }
  }
  fields_.emplace_back(std::move(name), std::move(value));
  return AppendResult::NeedMore;
}

std::string HTTPMessage::path() const {
  const auto question = target_.find('?');
  return question == std::string::npos ? target_ : target_.substr(0, question);
}

std::optional<std::string> HTTPMessage::query() const {
  const auto question = target_.find('?');
  if (question == std::string::npos) return std::nullopt;
  return target_.substr(question + 1);
}

std::optional<std::string> HTTPMessage::headerField(std::string_view name) const {
  for (const auto& [field, value] : fields_) {
    if (equalsIgnoringCase(field, name)) return value;
  }
  return std::nullopt;
}

void HTTPMessage::setHeaderField(std::string name, std::string value) {
  for (auto& [field, existing] : fields_) {
    if (equalsIgnoringCase(field, name)) {
      existing = std::move(value);
      return;
    }
  }
  fields_.emplace_back(std::move(name), std::move(value));
}

std::string HTTPMessage::serialize() const {
  std::string out;
  if (kind_ == Kind::Request) {
    out = method_ + " " + target_ + " " + version_ + "\r\n";
  } else {
    out = version_ + " " + std::to_string(status_) + " " + reason_ + "\r\n";
  }
  for (const auto& [name, value] : fields_) out += name + ": " + value + "\r\n";
  out += "\r\n";
  out += body_;
  return out;
}

}  // namespace control
