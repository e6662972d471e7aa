#pragma once
// DRTLDirAradedIngestion: posts the ordinary log batches to
// <log URL>/logs?api-version=1.0.0 with the "Install-ID" and "App-Secret"
// headers and the container's JSON as body. Ready to send only once an app
// secret is set; a send without one, or while disabled, answers its handler
// with the code 3 error so the batch is released. VERBOSE request lines show
// the secret masked. Threads: any (the ingestion's lock).

#include "telemetry/core/Ingestion/DRTLHttpIngestion.h"

namespace telemetry::core {

class DRTLDirAradedIngestion : public DRTLHttpIngestion {
 public:
  DRTLDirAradedIngestion(std::shared_ptr<DRTLHttpClientProtocol> httpClient, const std::string& baseUrl,
                         const std::string& installId);

  std::optional<std::string> appSecret() const;
  void setAppSecret(std::optional<std::string> appSecret);

  bool isReadyToSend() override;
  void sendAsync(const std::shared_ptr<DRTLLogContainer>& container, DRTLSendAsyncCompletionHandler handler) override;
  DRTLHttpHeaders getHeadersWithData(const std::shared_ptr<DRTLLogContainer>& data,
                                     const std::optional<std::string>& eTag) override;
  std::optional<std::string> getPayloadWithData(const std::shared_ptr<DRTLLogContainer>& data) override;
  std::optional<std::string> obfuscateResponsePayload(const std::string& payload) override { return payload; }
  void willSendHTTPRequestToURL(const std::string& url, const DRTLHttpHeaders& headers) override;

 private:
  std::optional<std::string> appSecret_;  // guarded by mutex_
};

}  // namespace telemetry::core
