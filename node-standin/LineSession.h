#pragma once
// LineSession: what the server asks of the protocol for one client. The
// server frames the client's bytes into lines and sends back whatever the
// session answers; it knows nothing of the commands.
//
// One session per client connection, created when the client connects and
// destroyed when it leaves; called on the server thread only.

#include <memory>
#include <string>
#include <string_view>

namespace standin {

class LineSession {
 public:
  virtual ~LineSession() = default;
  // The bytes to send for one command line (never empty).
  virtual std::string replyToLine(std::string_view line) = 0;
  // The bytes to send before the server closes a client whose line grew too long.
  virtual std::string replyToOverlongLine() = 0;
};

class LineSessionFactory {
 public:
  virtual ~LineSessionFactory() = default;
  // `peer` names the client in log lines ("127.0.0.1:50412").
  virtual std::unique_ptr<LineSession> newSession(const std::string& peer) = 0;
};

}  // namespace standin
