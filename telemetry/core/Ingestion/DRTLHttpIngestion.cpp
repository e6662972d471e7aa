#include "telemetry/core/Ingestion/DRTLHttpIngestion.h"

#include <curl/curl.h>

#include "foundation/GenerateUniqueID.h"
#include "telemetry/core/Channel/DRTLLogContainer.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

// Characters a URL query may hold as they are.
bool allowedInQuery(unsigned char c) {
  return std::isalnum(c) || std::string_view("-._~!$&'()*+,;=:@/?").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string percentEncodedQuery(const std::string& text) {
  static const char* const hex = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : text) {
    if (allowedInQuery(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += hex[c >> 4];
      encoded += hex[c & 15];
    }
  }
  return encoded;
}

struct CurlUrl {
  CURLU* handle = curl_url();
  ~CurlUrl() { curl_url_cleanup(handle); }
  bool set(const std::string& text) { return handle && curl_url_set(handle, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK; }
  std::optional<std::string> get(CURLUPart part) const {
    char* value = nullptr;
    if (curl_url_get(handle, part, &value, 0) != CURLUE_OK || !value) return std::nullopt;
    std::string text(value);
    curl_free(value);
    return text;
  }
};

}  // namespace

DRTLHttpIngestion::DRTLHttpIngestion(std::shared_ptr<DRTLHttpClientProtocol> httpClient, std::string baseUrl,
                                     std::string apiPath, DRTLHttpHeaders headers,
                                     const DRTLQueryStrings& queryStrings, std::vector<double> retryIntervals,
                                     std::int64_t maxNumberOfConnections)
    : baseURL_(std::move(baseUrl)),
      apiPath_(std::move(apiPath)),
      httpHeaders_(std::move(headers)),
      httpClient_(std::move(httpClient)),
      maxNumberOfConnections_(maxNumberOfConnections),
      callsRetryIntervals_(std::move(retryIntervals)) {
  sendURL_ = buildURLWithBaseURL(baseURL_, apiPath_, queryStrings);
}

std::string DRTLHttpIngestion::buildURLWithBaseURL(const std::string& baseUrl, const std::string& apiPath,
                                                   const DRTLQueryStrings& queryStrings) {
  std::string query;
  for (const auto& [key, value] : queryStrings) query += (query.empty() ? "" : "&") + key + "=" + value;
  std::string url = baseUrl + apiPath;
  if (!query.empty()) url += "?" + percentEncodedQuery(query);
  return url;
}

void DRTLHttpIngestion::setBaseURL(const std::string& baseUrl) {
  std::lock_guard lock(mutex_);
  baseURL_ = baseUrl;
  CurlUrl fresh;
  CurlUrl current;
  bool updated = false;
  if (fresh.set(baseUrl + apiPath_) && current.set(sendURL_)) {
    updated = true;
    for (CURLUPart part : {CURLUPART_SCHEME, CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_HOST, CURLUPART_PORT,
                           CURLUPART_PATH}) {
      const std::optional<std::string> value = fresh.get(part);
      updated = updated && curl_url_set(current.handle, part, value ? value->c_str() : nullptr, 0) == CURLUE_OK;
    }
    if (std::optional<std::string> combined = updated ? current.get(CURLUPART_URL) : std::nullopt) {
      sendURL_ = *combined;
      return;
    }
  }
  DRTLLogInfo("Failed to update HTTP URL " + sendURL_ + " with " + baseUrl);
}

std::string DRTLHttpIngestion::baseURL() const {
  std::lock_guard lock(mutex_);
  return baseURL_;
}

std::string DRTLHttpIngestion::sendURL() const {
  std::lock_guard lock(mutex_);
  return sendURL_;
}

bool DRTLHttpIngestion::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void DRTLHttpIngestion::setEnabled(bool enabled, bool) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

void DRTLHttpIngestion::sendAsync(const std::shared_ptr<DRTLLogContainer>& container,
                                  DRTLSendAsyncCompletionHandler handler) {
  sendAsync(container, std::nullopt, foundation::GenerateUniqueID::generateUniqueID(), std::move(handler));
}

void DRTLHttpIngestion::sendAsync(const std::shared_ptr<DRTLLogContainer>& container,
                                  const std::optional<std::string>& eTag, const std::string& callId,
                                  DRTLSendAsyncCompletionHandler handler) {
  std::unique_lock lock(mutex_);
  if (!enabled_) {
    // Answered, so the caller's batch is released rather than left in flight.
    lock.unlock();
    if (handler) handler(callId, nullptr, std::nullopt, platform::Error(DRTLErrorDomain, DRTLDisabledErrorCode, kDRTLDisabledErrorDesc));
    return;
  }
  const DRTLHttpHeaders headers = getHeadersWithData(container, eTag);
  const std::optional<std::string> payload = getPayloadWithData(container);
  std::weak_ptr<DRTLHttpIngestion> weak = weak_from_this();
  httpClient_->sendAsync(
      sendURL_, getHttpMethod(), headers, payload, callsRetryIntervals_, true,
      [weak, callId, handler](const std::optional<std::string>& data, const std::shared_ptr<DRTLHttpResponse>& response,
                              const std::optional<platform::Error>& error) {
        if (auto self = weak.lock()) self->printResponse(response, data, error);
        if (handler) handler(callId, response, data, error);
      });
}

DRTLHttpHeaders DRTLHttpIngestion::getHeadersWithData(const std::shared_ptr<DRTLLogContainer>&,
                                                      const std::optional<std::string>&) {
  return {};
}

std::optional<std::string> DRTLHttpIngestion::getPayloadWithData(const std::shared_ptr<DRTLLogContainer>&) {
  return std::nullopt;
}

std::optional<std::string> DRTLHttpIngestion::obfuscateResponsePayload(const std::string&) { return std::nullopt; }

void DRTLHttpIngestion::printResponse(const std::shared_ptr<DRTLHttpResponse>& response,
                                      const std::optional<std::string>& body,
                                      const std::optional<platform::Error>& error) {
  if (error) {
    DRTLLogDebug("HTTP request error with code: " + std::to_string(error->code) + ", domain: " + error->domain +
                 ", description: " + error->localizedDescription);
    return;
  }
  if (DRTLLogger::currentLogLevel() > DRTLLogLevelVerbose) return;
  std::string payload;
  const std::string contentType = response ? response->valueForHeader("Content-Type").value_or("") : "";
  if (!body || body->empty()) {
    payload.clear();
  } else if (contentType.rfind("application/json", 0) == 0) {
    payload = obfuscateResponsePayload(DRTLUtility::prettyPrintJson(body).value_or("")).value_or("");
  } else if (!contentType.empty() && contentType.rfind("text/", 0) != 0 && contentType.rfind("application/", 0) != 0) {
    payload = "<binary>";
  } else {
    payload = obfuscateResponsePayload(*body).value_or("");
  }
  DRTLLogVerbose("HTTP response received with status code: " + std::to_string(response ? response->statusCode : 0) +
                 ", payload:\n" + payload);
}

std::optional<std::string> DRTLHttpIngestion::eTagFromResponse(const std::shared_ptr<DRTLHttpResponse>& response) {
  return response ? response->valueForHeader("etag") : std::nullopt;
}

}  // namespace telemetry::core
