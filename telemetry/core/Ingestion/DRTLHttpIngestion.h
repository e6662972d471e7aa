#pragma once
// DRTLHttpIngestion: the base of the ingestions that post log batches. It
// keeps the address (base + path + query), the common headers, the retry
// intervals and an enabled switch, and turns one send into one call of the
// HTTP client. Subclasses give the headers, the body and the masking of
// logged payloads. It is its client's delegate (made with make()).
//
// Threads: any; sends, address changes and the switch hold the ingestion's
// lock. Handlers run on the HTTP client's thread (or the caller's, at once,
// for a disabled ingestion).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "telemetry/core/Ingestion/DRTLHttpClient.h"

namespace telemetry::core {

class DRTLLogContainer;

using DRTLQueryStrings = std::vector<std::pair<std::string, std::string>>;
// (batch or call id, response, body, error)
using DRTLSendAsyncCompletionHandler =
    std::function<void(const std::optional<std::string>& callId, const std::shared_ptr<DRTLHttpResponse>& response,
                       const std::optional<std::string>& data, const std::optional<platform::Error>& error)>;

class DRTLIngestionProtocol {
 public:
  virtual ~DRTLIngestionProtocol() = default;
  virtual bool isReadyToSend() = 0;
  virtual void sendAsync(const std::shared_ptr<DRTLLogContainer>& container,
                         DRTLSendAsyncCompletionHandler handler) = 0;
  virtual void setEnabled(bool enabled, bool deleteData) = 0;
};

class DRTLHttpIngestion : public DRTLIngestionProtocol,
                          public DRTLHttpClientDelegate,
                          public std::enable_shared_from_this<DRTLHttpIngestion> {
 public:
  // Builds an ingestion and makes it its client's delegate.
  template <typename Ingestion, typename... Arguments>
  static std::shared_ptr<Ingestion> make(Arguments&&... arguments) {
    auto ingestion = std::make_shared<Ingestion>(std::forward<Arguments>(arguments)...);
    if (ingestion->httpClient()) ingestion->httpClient()->setDelegate(ingestion);
    return ingestion;
  }

  DRTLHttpIngestion(std::shared_ptr<DRTLHttpClientProtocol> httpClient, std::string baseUrl, std::string apiPath,
                    DRTLHttpHeaders headers, const DRTLQueryStrings& queryStrings,
                    std::vector<double> retryIntervals = kDRTLDefaultRetryIntervals,
                    std::int64_t maxNumberOfConnections = 4);

  static std::string buildURLWithBaseURL(const std::string& baseUrl, const std::string& apiPath,
                                         const DRTLQueryStrings& queryStrings);
  // Keeps the current query; a text that is no URL leaves the address as it is.
  void setBaseURL(const std::string& baseUrl);
  std::string baseURL() const;
  std::string sendURL() const;
  bool isEnabled() const;
  const std::shared_ptr<DRTLHttpClientProtocol>& httpClient() const { return httpClient_; }
  const DRTLHttpHeaders& httpHeaders() const { return httpHeaders_; }
  std::int64_t maxNumberOfConnections() const { return maxNumberOfConnections_; }

  bool isReadyToSend() override { return true; }
  void sendAsync(const std::shared_ptr<DRTLLogContainer>& container, DRTLSendAsyncCompletionHandler handler) override;
  void sendAsync(const std::shared_ptr<DRTLLogContainer>& container, const std::optional<std::string>& eTag,
                 const std::string& callId, DRTLSendAsyncCompletionHandler handler);
  void setEnabled(bool enabled, bool deleteData) override;

  virtual DRTLHttpHeaders getHeadersWithData(const std::shared_ptr<DRTLLogContainer>& data,
                                             const std::optional<std::string>& eTag);
  virtual std::optional<std::string> getPayloadWithData(const std::shared_ptr<DRTLLogContainer>& data);
  virtual std::optional<std::string> obfuscateResponsePayload(const std::string& payload);
  virtual std::string getHttpMethod() const { return "POST"; }

  void printResponse(const std::shared_ptr<DRTLHttpResponse>& response, const std::optional<std::string>& body,
                     const std::optional<platform::Error>& error);
  static std::optional<std::string> eTagFromResponse(const std::shared_ptr<DRTLHttpResponse>& response);

 protected:
  mutable std::recursive_mutex mutex_;

 private:
  bool enabled_ = true;        // guarded by mutex_
  std::string baseURL_;        // guarded by mutex_
  const std::string apiPath_;
  std::string sendURL_;        // guarded by mutex_
  const DRTLHttpHeaders httpHeaders_;
  const std::shared_ptr<DRTLHttpClientProtocol> httpClient_;
  const std::int64_t maxNumberOfConnections_;
  const std::vector<double> callsRetryIntervals_;
};

}  // namespace telemetry::core
