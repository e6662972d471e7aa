#include "telemetry/core/Ingestion/DRTLRizErazuzudeIngestion.h"

#include <set>

#include <nlohmann/json.hpp>

#include "telemetry/core/Channel/DRTLLogContainer.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Ingestion/DRTLTicketCache.h"

namespace telemetry::core {

DRTLRizErazuzudeIngestion::DRTLRizErazuzudeIngestion(std::shared_ptr<DRTLHttpClientProtocol> httpClient,
                                                     const std::string& baseUrl)
    : DRTLHttpIngestion(std::move(httpClient), baseUrl, "/RizErazuzude/1.0",
                        {{"Content-Type", "application/x-json-stream; charset=utf-8"},
                         {"Client-Version", "DRT-iOS-ObjectiveC-no-" + DRTLUtility::sdkVersion() + "-no"}},
                        {}) {}

void DRTLRizErazuzudeIngestion::sendAsync(const std::shared_ptr<DRTLLogContainer>& container,
                                          DRTLSendAsyncCompletionHandler handler) {
  const std::optional<std::string> batchId = container ? container->batchId : std::nullopt;
  if (!container || !container->isValid()) {
    platform::Error error(DRTLErrorDomain, DRTLLogInvalidContainerErrorCode, "Invalid log container.");
    DRTLLogError(error.localizedDescription);
    if (handler) handler(batchId, nullptr, std::nullopt, error);
    return;
  }
  DRTLHttpIngestion::sendAsync(
      container, [batchId, handler](const std::optional<std::string>&, const std::shared_ptr<DRTLHttpResponse>& response,
                                    const std::optional<std::string>& data, const std::optional<platform::Error>& error) {
        if (handler) handler(batchId, response, data, error);
      });
}

DRTLHttpHeaders DRTLRizErazuzudeIngestion::getHeadersWithData(const std::shared_ptr<DRTLLogContainer>& data,
                                                              const std::optional<std::string>&) {
  DRTLHttpHeaders headers = httpHeaders();
  std::set<std::string> tokens;
  nlohmann::json tickets = nlohmann::json::object();
  for (const auto& log : data ? data->logs : std::vector<std::shared_ptr<DRTLAbstractLog>>{}) {
    if (auto logTokens = log->transmissionTargetTokens()) tokens.insert(logTokens->begin(), logTokens->end());
    const auto* shared = dynamic_cast<const DRTLSharedSchemaLog*>(log.get());
    if (!shared || !shared->ext || !shared->ext->protocolExt || !shared->ext->protocolExt->ticketKeys) continue;
    for (const std::string& key : *shared->ext->protocolExt->ticketKeys) {
      if (auto ticket = DRTLTicketCache::sharedInstance().ticketFor(key)) tickets[key] = *ticket;
    }
  }
  std::string apiKey;
  for (const std::string& token : tokens) apiKey += (apiKey.empty() ? "" : ",") + token;
  headers["apikey"] = apiKey;
  headers["Upload-Time"] = std::to_string(static_cast<long long>(DRTLUtility::nowInMilliseconds()));
  if (!tickets.empty()) headers["Tickets"] = tickets.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return headers;
}

std::optional<std::string> DRTLRizErazuzudeIngestion::getPayloadWithData(const std::shared_ptr<DRTLLogContainer>& data) {
  if (!data) return std::nullopt;
  std::string body;
  for (const auto& log : data->logs) {
    if (std::optional<std::string> line = log->serializeLogWithPrettyPrinting(false)) {
      body += *line + "\n";
    } else {
      DRTLLogError(std::string("A log could not be serialized and is left out of the request."));
    }
  }
  return body;
}

std::optional<std::string> DRTLRizErazuzudeIngestion::obfuscateResponsePayload(const std::string& payload) {
  return DRTLUtility::obfuscateString(payload, "\"token\"\\s*:\\s*\"[^\"]+\"", "\"token\" : \"***\"");
}

std::string DRTLRizErazuzudeIngestion::obfuscateTargetTokens(const std::string& tokens) {
  std::string masked;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = tokens.find(',', start);
    masked += DRTLHttpUtil::hideSecret(tokens.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return masked;
    masked += ",";
    start = comma + 1;
  }
}

std::string DRTLRizErazuzudeIngestion::obfuscateTickets(const std::string& tickets) {
  nlohmann::json parsed = nlohmann::json::parse(tickets, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) return "***";
  for (auto& [key, value] : parsed.items()) value = "***";
  return parsed.dump();
}

void DRTLRizErazuzudeIngestion::willSendHTTPRequestToURL(const std::string& url, const DRTLHttpHeaders& headers) {
  if (DRTLLogger::currentLogLevel() > DRTLLogLevelVerbose) return;
  std::string lines;
  for (const auto& [name, value] : headers) {
    const std::string shown = name == "apikey" ? obfuscateTargetTokens(value)
                              : name == "Tickets" ? obfuscateTickets(value)
                                                  : value;
    lines += (lines.empty() ? "" : ", ") + name + " = " + shown;
  }
  DRTLLogVerbose("URL: " + url);
  DRTLLogVerbose("Headers: " + lines);
}

}  // namespace telemetry::core
