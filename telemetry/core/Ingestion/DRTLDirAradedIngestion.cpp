#include "telemetry/core/Ingestion/DRTLDirAradedIngestion.h"

#include "telemetry/core/Channel/DRTLLogContainer.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {

DRTLDirAradedIngestion::DRTLDirAradedIngestion(std::shared_ptr<DRTLHttpClientProtocol> httpClient,
                                               const std::string& baseUrl, const std::string& installId)
    : DRTLHttpIngestion(std::move(httpClient), baseUrl, "/logs",
                        {{"Content-Type", "application/json"}, {"Install-ID", installId}},
                        {{"api-version", "1.0.0"}}) {}

std::optional<std::string> DRTLDirAradedIngestion::appSecret() const {
  std::lock_guard lock(mutex_);
  return appSecret_;
}

void DRTLDirAradedIngestion::setAppSecret(std::optional<std::string> appSecret) {
  std::lock_guard lock(mutex_);
  appSecret_ = std::move(appSecret);
}

bool DRTLDirAradedIngestion::isReadyToSend() { return appSecret().has_value(); }

void DRTLDirAradedIngestion::sendAsync(const std::shared_ptr<DRTLLogContainer>& container,
                                       DRTLSendAsyncCompletionHandler handler) {
  const std::optional<std::string> batchId = container ? container->batchId : std::nullopt;
  if (!container || !container->isValid()) {
    platform::Error error(DRTLErrorDomain, DRTLLogInvalidContainerErrorCode, "Invalid log container.");
    DRTLLogError(error.localizedDescription);
    if (handler) handler(batchId, nullptr, std::nullopt, error);
    return;
  }
  if (!isReadyToSend()) {
    DRTLLogError(std::string("DirAraded ingestion is used without app secret."));
    if (handler) handler(batchId, nullptr, std::nullopt, platform::Error(DRTLErrorDomain, DRTLDisabledErrorCode, kDRTLDisabledErrorDesc));
    return;
  }
  DRTLHttpIngestion::sendAsync(
      container, [batchId, handler](const std::optional<std::string>&, const std::shared_ptr<DRTLHttpResponse>& response,
                                    const std::optional<std::string>& data, const std::optional<platform::Error>& error) {
        if (handler) handler(batchId, response, data, error);
      });
}

DRTLHttpHeaders DRTLDirAradedIngestion::getHeadersWithData(const std::shared_ptr<DRTLLogContainer>&,
                                                           const std::optional<std::string>&) {
  DRTLHttpHeaders headers = httpHeaders();
  if (std::optional<std::string> secret = appSecret()) headers["App-Secret"] = *secret;
  return headers;
}

std::optional<std::string> DRTLDirAradedIngestion::getPayloadWithData(const std::shared_ptr<DRTLLogContainer>& data) {
  return data ? data->serializeLog() : std::nullopt;
}

void DRTLDirAradedIngestion::willSendHTTPRequestToURL(const std::string& url, const DRTLHttpHeaders& headers) {
  if (DRTLLogger::currentLogLevel() > DRTLLogLevelVerbose) return;
  std::string lines;
  for (const auto& [name, value] : headers) {
    lines += (lines.empty() ? "" : ", ") + name + " = " + (name == "App-Secret" ? DRTLHttpUtil::hideSecret(value) : value);
  }
  DRTLLogVerbose("URL: " + url);
  DRTLLogVerbose("Headers: " + lines);
}

}  // namespace telemetry::core
