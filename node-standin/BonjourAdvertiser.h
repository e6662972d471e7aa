#pragma once
// BonjourAdvertiser: announces the node on the local network as a service of
// type "_ruzizevuzazo._tcp." with the node's name and port, so clients that
// browse for nodes find it. Registration goes through the DNS-SD API (served
// by the system's mDNS daemon); a thread of its own handles the daemon's
// answers until the advertiser is stopped.
//
// Owned by main; start and stop from one thread. Without a running daemon
// start() fails with an Error and the node goes on without being announced.

#include <cstdint>
#include <memory>
#include <string>

#include "node-standin/MediaFolderIndex.h"
#include "platform/Error.h"

namespace standin {

inline constexpr const char* kNodeServiceType = "_ruzizevuzazo._tcp.";
inline constexpr const char* kBonjourErrorDomain = "BonjourErrorDomain";
enum class BonjourErrorCode { RegistrationFailed = 1 };

class BonjourAdvertiser {
 public:
  explicit BonjourAdvertiser(LogFunction log);
  ~BonjourAdvertiser();  // stops
  BonjourAdvertiser(const BonjourAdvertiser&) = delete;
  BonjourAdvertiser& operator=(const BonjourAdvertiser&) = delete;

  platform::Status start(const std::string& name, std::uint16_t port);
  // Withdraws the announcement and joins the thread. Idempotent.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace standin
