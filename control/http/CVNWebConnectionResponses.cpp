// The answers of a connection: error pages, data with its headers, and the
// one "Date" formatter of the process.
#include <chrono>

#include "control/http/CVNWebConnection.h"
#include "platform/DateFormatter.h"

namespace control {
namespace {

constexpr double kErrorWriteTimeout = 30;
constexpr const char* kNotAuthorizedBody =
    "<!doctype html><html><head><title>Error 401</title><meta charset=\"utf-8\" /></head><body><h1>401 "
    "Unauthorized</h1></body></html>";
constexpr const char* kNotFoundBody =
    "<!doctype html><html><head><title>Page Not Found</title><meta charset=\"utf-8\" /></head><body><h1>Page Not "
    "Found</h1></body></html>";

std::string httpDate() {
  static const auto formatter = platform::DateFormatter::create("EEE, dd MMM y HH:mm:ss 'GMT'", "en_US", "GMT");
  return formatter ? formatter->stringFromDate(std::chrono::system_clock::now()) : std::string();
}

}  // namespace

void CVNWebConnection::setOutgoingContentTypeStringForType(int code) {
  static const char* const kTypes[] = {"text/html",        "text/css",  "application/javascript",
                                       "application/json; charset=UTF-8", "image/png", "image/x-icon",
                                       "image/jpeg",       "image/tiff", "text/xml; charset=UTF-8",
                                       "application/octet-stream"};
  if (code >= 0 && code < static_cast<int>(std::size(kTypes))) outgoingContentType_ = kTypes[code];
}

HTTPMessage CVNWebConnection::makeResponse(std::int64_t code) const {
  return HTTPMessage::response(static_cast<int>(code));
}

void CVNWebConnection::writeResponse(const HTTPMessage& response, std::optional<double> timeout) {
  HTTPMessage complete = response;
  complete.setHeaderField("Content-Length", std::to_string(response.body().size()));
  complete.setHeaderField("Connection", "close");
  complete.setHeaderField("Date", httpDate());
  const std::string text = complete.serialize();
  // By default 30 s, and one more for each whole 55 KiB of the whole answer.
  const double seconds = timeout.value_or(30.0 + static_cast<double>((text.size() / 1024) / 55));
  socket_->writeData(makeBytes(text), seconds, kResponse);
}

void CVNWebConnection::respondWithData(const std::string& data, std::int64_t code) {
  HTTPMessage response = makeResponse(code);
  if (outgoingContentType_) response.setHeaderField("Content-Type", *outgoingContentType_);
  response.setHeaderField("Cache-Control", "no-cache, must-revalidate");
  // Browser pages may read answers only from origins the host allows.
  const auto origin = incomingMessage_.headerField("Origin");
  auto d = delegate();
  if (origin && d && (d->allowsEveryOrigin() || d->allowsOrigin(*origin))) {
    if (d->allowsEveryOrigin()) {
      response.setHeaderField("Access-Control-Allow-Origin", "*");
    } else {
      response.setHeaderField("Access-Control-Allow-Origin", *origin);
      response.setHeaderField("Vary", "Origin");
    }
    response.setHeaderField("Access-Control-Allow-Methods", "GET, POST, PUT, DELETE, OPTIONS");
    if (auto requested = incomingMessage_.headerField("Access-Control-Request-Headers")) {
      response.setHeaderField("Access-Control-Allow-Headers", *requested);
    }
  }
  response.setBody(data);
  writeResponse(response, std::nullopt);
}

void CVNWebConnection::respondWithNotFound() { respondWithInvalidRequestWithErrorCode(404, kNotFoundBody); }
void CVNWebConnection::respondWithNotAuthorized() { respondWithInvalidRequestWithErrorCode(401, kNotAuthorizedBody); }
void CVNWebConnection::respondWithInvalidRequest() { respondWithInvalidRequestWithErrorCode(400, std::nullopt); }

void CVNWebConnection::respondWithInvalidRequestWithErrorCode(std::int64_t code, const std::optional<std::string>& body) {
  HTTPMessage response = makeResponse(code);
  if (body) {
    response.setHeaderField("Content-Type", "text/html");
    response.setBody(*body);
  }
  if (code == 401) response.setHeaderField("WWW-Authenticate", "Basic realm=\"Corvane\"");
  writeResponse(response, kErrorWriteTimeout);
}

}  // namespace control
