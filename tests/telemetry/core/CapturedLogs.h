#pragma once
// The logs a capture server received, whatever the requests' encoding.

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TelemetryTestSupport.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::core::testing_support {

// Every log of every captured request.
inline std::vector<nlohmann::json> capturedLogs(const ::testing_support::HttpCaptureServer& server) {
  std::vector<nlohmann::json> logs;
  for (const auto& request : server.requests()) {
    std::string body = request.body;
    if (request.header("Content-Encoding") == "gzip") {
      ::testing_support::TemporaryDirectory folder;
      std::ofstream(folder.path() / "body.gz", std::ios::binary) << body;
      body = runCommand("gzip -dc " + quoted((folder.path() / "body.gz").string()));
    }
    const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    if (parsed.is_object() && parsed.contains("logs")) {
      for (const auto& log : parsed["logs"]) logs.push_back(log);
    }
  }
  return logs;
}

}  // namespace telemetry::core::testing_support
