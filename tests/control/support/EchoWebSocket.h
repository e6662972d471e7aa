#pragma once
// A server WebSocket that sends every text message back, for the tests that
// upgrade connections.

#include <memory>
#include <string>

#include "control/websocket/CVNServerWebSocket.h"

namespace control_testing {

class EchoWebSocket : public control::CVNServerWebSocket {
 public:
  static std::shared_ptr<EchoWebSocket> make(std::shared_ptr<control::CVNSocket> socket, control::HTTPMessage request,
                                             std::string protocol) {
    auto ws = std::shared_ptr<EchoWebSocket>(new EchoWebSocket());
    adopt(ws, std::move(socket), std::move(request), std::move(protocol));
    return ws;
  }
  void handleReceivedData(const control::CVNSocketData& payload) override { sendData(payload.view()); }
};

}  // namespace control_testing
