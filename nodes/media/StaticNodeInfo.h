#pragma once
// StaticNodeInfo: the address of a node entered by hand in the preferences
// (not found by service discovery). A plain value, used on the main thread.
//
// Dictionary form {"ipAdress", "portNumber"}, both strings, as saved in the
// "discoveredNodes" default.

#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

class StaticNodeInfo {
 public:
  StaticNodeInfo() = default;  // both fields empty

  const std::string& ipAdress() const { return ipAdress_; }
  void setIpAdress(std::string ipAdress) { ipAdress_ = std::move(ipAdress); }
  const std::string& portNumber() const { return portNumber_; }
  void setPortNumber(std::string portNumber) { portNumber_ = std::move(portNumber); }

  platform::Dictionary dict() const;
  // Sets each field whose key holds a string and keeps the others; the error
  // names the keys of another type.
  platform::Status loadFromDict(const platform::Dictionary& dictionary);

  friend bool operator==(const StaticNodeInfo&, const StaticNodeInfo&) = default;

 private:
  std::string ipAdress_;
  std::string portNumber_;
};

}  // namespace nodes
