#include "nodes/media/StaticNodeInfo.h"

#include "nodes/media/DictionaryFieldReader.h"

namespace nodes {

namespace {
constexpr const char* kIpAdressKey = "ipAdress";
constexpr const char* kPortNumberKey = "portNumber";
}  // namespace

platform::Dictionary StaticNodeInfo::dict() const {
  return platform::Dictionary{{kIpAdressKey, ipAdress_}, {kPortNumberKey, portNumber_}};
}

platform::Status StaticNodeInfo::loadFromDict(const platform::Dictionary& dictionary) {
  detail::DictionaryFieldReader read(dictionary, "StaticNodeInfo");
  if (auto ipAdress = read.string(kIpAdressKey)) ipAdress_ = std::move(*ipAdress);
  if (auto portNumber = read.string(kPortNumberKey)) portNumber_ = std::move(*portNumber);
  return read.status();
}

}  // namespace nodes
