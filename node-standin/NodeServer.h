#pragma once
// NodeServer: the node's TCP listener. One thread runs a poll loop over the
// listening socket and every client, so any number of clients are served at
// once and the node's state is only ever touched on that thread.
//
// Per client: bytes are cut into lines (LineFramer) and each line is answered
// by the client's LineSession, replies in order. Guards against bad clients:
// a line longer than maxLineBytes is answered "ERROR" and the link closed
// (after the reply is sent, the client's further bytes are read and dropped
// for up to two seconds so the reply is not lost to a reset); a client that
// does not read its replies is not read from until pending replies fall
// under 1 MiB; a client that sends no command within firstCommandLimit (on
// Clock::current()) is closed, so silent connections cannot pile up. There is
// no cap on clients below the process's file-descriptor limit; at that limit
// a new client is accepted and closed at once, so it learns it was turned
// away. A client that ends its side of the link still gets the replies to the
// lines it sent. Buffers go back to the system as the client goes
// (ClientBuffer). Log lines about clients are rate-limited (LogRateLimiter).
// None of this stops the node or touches other clients.
//
// Owned by main (or a test); start and stop from one thread. Socket
// housekeeping (the drain limit above, the poll loop's wake-ups) runs in real
// time; the protocol's own times follow Clock::current().

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "node-standin/LineSession.h"
#include "node-standin/MediaFolderIndex.h"
#include "platform/Clock.h"
#include "platform/Error.h"

namespace standin {

inline constexpr const char* kNodeServerErrorDomain = "NodeServerErrorDomain";
enum class NodeServerErrorCode { AddressUnusable = 1, ListenFailed = 2, AlreadyStarted = 3 };

class NodeServer {
 public:
  struct Options {
    std::size_t maxLineBytes = 4 * 1024 * 1024;
    platform::Clock::Duration firstCommandLimit = std::chrono::seconds(60);
  };

  // factory: not owned, outlives the server.
  NodeServer(LineSessionFactory& factory, Options options, LogFunction log);
  ~NodeServer();  // stops
  NodeServer(const NodeServer&) = delete;
  NodeServer& operator=(const NodeServer&) = delete;

  // Binds to the numeric address (IPv4, or IPv6 without brackets) and port
  // (0 takes a free one), listens and starts the loop.
  platform::Status start(const std::string& address, std::uint16_t port);
  // "127.0.0.1:5000" or "[::1]:5000" once started.
  std::string listeningAddress() const;
  std::uint16_t port() const;
  // Closes every client and the listener and joins the loop. Idempotent.
  void stop();

  // Any thread, as of the loop's last turn: clients connected, and the bytes
  // their unfinished lines and unsent replies hold.
  std::size_t clientCountForTesting() const;
  std::size_t bufferedBytesForTesting() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace standin
