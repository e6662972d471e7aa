#include "control/devicehttp/CVNAuthenticatedURLSessionController.h"

namespace control {

std::string CVNAuthenticatedURLSessionController::stringFromWebSocketCloseCode(std::int64_t code) {
  switch (code) {
    case 0: return "Invalid";
    case 1000: return "Normal Closure";
    case 1001: return "Going Away";
    case 1002: return "Protocol Error";
    case 1003: return "Unsupported Data";
    case 1005: return "No Status Received";
    case 1006: return "Abnormal Closure";
    case 1007: return "Invalid Frame Payload Data";
    case 1008: return "Policy Violation";
    case 1009: return "Message Too Big";
    case 1010: return "Mandatory Extension Missing";
    case 1011: return "Internal Server Error";
    case 1015: return "TLS Handshake Failure";
    default: return "Unknown Error Code Description";
  }
}

}  // namespace control
