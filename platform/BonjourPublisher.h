#pragma once
// BonjourPublisher: announces one service (type, domain, name, port, TXT
// record) through the DNS-SD API of the system's mDNS daemon, the stand-in for
// the desktop's network service object. A thread of its own takes the
// daemon's answers while the service is published.
//
// A value describing the service, plus publish()/stop(); use from one thread
// (its owner serialises calls). Without a daemon publish() fails with an Error.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/Error.h"

namespace platform {

class BonjourPublisher {
 public:
  using TXTRecord = std::map<std::string, std::string>;

  // `domain` empty: the default domains; `name` empty: the daemon picks the host's name.
  BonjourPublisher(std::string domain, std::string type, std::string name, std::uint16_t port, TXTRecord txt = {});
  ~BonjourPublisher();  // stops
  BonjourPublisher(const BonjourPublisher&) = delete;
  BonjourPublisher& operator=(const BonjourPublisher&) = delete;

  const std::string& domain() const { return domain_; }
  const std::string& type() const { return type_; }
  const std::string& name() const { return name_; }
  std::uint16_t port() const { return port_; }
  const TXTRecord& txtRecord() const { return txt_; }
  void setTXTRecord(TXTRecord txt) { txt_ = std::move(txt); }

  Status publish();
  // Withdraws the announcement. Idempotent.
  void stop();
  bool isPublished() const;

 private:
  struct Announcement;
  std::string domain_;
  std::string type_;
  std::string name_;
  std::uint16_t port_;
  TXTRecord txt_;
  std::unique_ptr<Announcement> announcement_;
};

}  // namespace platform
