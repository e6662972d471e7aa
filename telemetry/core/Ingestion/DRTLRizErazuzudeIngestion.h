#pragma once
// DRTLRizErazuzudeIngestion: posts Shared Schema logs to <base>/RizErazuzude/1.0
// as one compact JSON object per line. Headers: "Content-Type"
// "application/x-json-stream; charset=utf-8", "Client-Version", "apikey" (the
// batch's target tokens once each, "," joined), "Upload-Time" (ms since 1970)
// and "Tickets" (the cached tickets of the logs' ticket keys, compact JSON,
// absent when none). VERBOSE request lines mask the tokens and every ticket.
// Threads: any (the base's lock).

#include "telemetry/core/Ingestion/DRTLHttpIngestion.h"

namespace telemetry::core {

// Never resolves: nothing leaves until a host configures the collector.
inline constexpr const char* kDRTLDefaultRizErazuzudeBaseUrl = "https://collector.invalid";

class DRTLRizErazuzudeIngestion : public DRTLHttpIngestion {
 public:
  DRTLRizErazuzudeIngestion(std::shared_ptr<DRTLHttpClientProtocol> httpClient, const std::string& baseUrl);

  void sendAsync(const std::shared_ptr<DRTLLogContainer>& container, DRTLSendAsyncCompletionHandler handler) override;
  DRTLHttpHeaders getHeadersWithData(const std::shared_ptr<DRTLLogContainer>& data,
                                     const std::optional<std::string>& eTag) override;
  std::optional<std::string> getPayloadWithData(const std::shared_ptr<DRTLLogContainer>& data) override;
  std::optional<std::string> obfuscateResponsePayload(const std::string& payload) override;
  void willSendHTTPRequestToURL(const std::string& url, const DRTLHttpHeaders& headers) override;

  static std::string obfuscateTargetTokens(const std::string& tokens);
  // Every ticket value of the header's JSON becomes "***".
  static std::string obfuscateTickets(const std::string& tickets);
};

}  // namespace telemetry::core
