#include "control/sockets/SocketAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <charconv>
#include <cstring>

namespace control {
namespace {

template <typename Record>
Bytes toBytes(const Record& record) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&record);
  return Bytes(p, p + sizeof record);
}

template <typename Record>
Record fromBytes(const Bytes& bytes) {
  Record record{};
  std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
  return record;
}

int familyOf(const Bytes& address) {
  if (address.size() < sizeof(sa_family_t)) return -1;
  sa_family_t family;
  std::memcpy(&family, address.data(), sizeof family);
  return family;
}

class SystemHostResolver final : public HostResolver {
 public:
  platform::Result<std::vector<Bytes>> resolve(const std::string& host, std::uint16_t port) override {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* results = nullptr;
    const std::string service = std::to_string(port);
    if (int code = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &results); code != 0) {
      return socket_errors::gaiError(code);
    }
    std::vector<Bytes> addresses;
    for (addrinfo* r = results; r; r = r->ai_next) {
      if (r->ai_family == AF_INET && r->ai_addrlen >= sizeof(sockaddr_in)) {
        addresses.push_back(toBytes(*reinterpret_cast<sockaddr_in*>(r->ai_addr)));
      } else if (r->ai_family == AF_INET6 && r->ai_addrlen >= sizeof(sockaddr_in6)) {
        Bytes address = toBytes(*reinterpret_cast<sockaddr_in6*>(r->ai_addr));
        if (socket_addresses::portFromAddress(address) == 0) socket_addresses::setPort(address, port);
        addresses.push_back(std::move(address));
      }
    }
    ::freeaddrinfo(results);
    return addresses;
  }
};

}  // namespace

std::shared_ptr<HostResolver> HostResolver::system() {
  static auto resolver = std::make_shared<SystemHostResolver>();
  return resolver;
}

namespace socket_addresses {

Bytes ipv4(std::uint32_t hostOrderAddress, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(hostOrderAddress);
  return toBytes(a);
}

Bytes ipv4Loopback(std::uint16_t port) { return ipv4(INADDR_LOOPBACK, port); }

Bytes ipv6Loopback(std::uint16_t port) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  a.sin6_addr = in6addr_loopback;
  return toBytes(a);
}

namespace {
Bytes ipv6Any(std::uint16_t port) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  a.sin6_addr = in6addr_any;
  return toBytes(a);
}
}  // namespace

std::optional<Bytes> fromText(const std::string& text, std::uint16_t port) {
  sockaddr_in a4{};
  if (::inet_pton(AF_INET, text.c_str(), &a4.sin_addr) == 1) {
    a4.sin_family = AF_INET;
    a4.sin_port = htons(port);
    return toBytes(a4);
  }
  sockaddr_in6 a6{};
  if (::inet_pton(AF_INET6, text.c_str(), &a6.sin6_addr) == 1) {
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(port);
    return toBytes(a6);
  }
  return std::nullopt;
}

bool isIPv4Address(const Bytes& address) { return address.size() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET; }
bool isIPv6Address(const Bytes& address) {
  return address.size() >= sizeof(sockaddr_in6) && familyOf(address) == AF_INET6;
}

bool getHostPortFamily(const Bytes& address, std::string* host, std::uint16_t* port, int* family) {
  char text[INET6_ADDRSTRLEN] = {};
  if (isIPv4Address(address)) {
    auto a = fromBytes<sockaddr_in>(address);
    if (host) *host = ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text) ? text : "";
    if (port) *port = ntohs(a.sin_port);
    if (family) *family = AF_INET;
    return true;
  }
  if (isIPv6Address(address)) {
    auto a = fromBytes<sockaddr_in6>(address);
    if (host) *host = ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text) ? text : "";
    if (port) *port = ntohs(a.sin6_port);
    if (family) *family = AF_INET6;
    return true;
  }
  return false;
}

std::string hostFromAddress(const Bytes& address) {
  std::string host;
  return getHostPortFamily(address, &host, nullptr, nullptr) ? host : std::string();
}

std::uint16_t portFromAddress(const Bytes& address) {
  std::uint16_t port = 0;
  return getHostPortFamily(address, nullptr, &port, nullptr) ? port : 0;
}

void setPort(Bytes& address, std::uint16_t port) {
  // sin_port and sin6_port sit at the same offset.
  if (address.size() < 4) return;
  const std::uint16_t network = htons(port);
  std::memcpy(address.data() + offsetof(sockaddr_in, sin_port), &network, sizeof network);
}

std::optional<Bytes> unixAddress(const std::filesystem::path& path) {
  const std::string text = path.string();
  sockaddr_un a{};
  if (text.empty() || text.size() >= sizeof a.sun_path) return std::nullopt;
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, text.data(), text.size());
  return toBytes(a);
}

std::filesystem::path pathFromUnixAddress(const Bytes& address, std::size_t length) {
  auto a = fromBytes<sockaddr_un>(address);
  const std::size_t pathLength = length > offsetof(sockaddr_un, sun_path) ? length - offsetof(sockaddr_un, sun_path) : 0;
  return std::string(a.sun_path, strnlen(a.sun_path, std::min(pathLength, sizeof a.sun_path)));
}

InterfaceAddresses interfaceAddresses(const std::string& description, std::uint16_t port) {
  std::string interface = description;
  if (auto colon = description.find(':'); colon != std::string::npos) {
    // An IPv6 address text holds colons too; only a single colon splits off a port.
    if (description.find(':', colon + 1) == std::string::npos) {
      interface = description.substr(0, colon);
      if (port == 0) {
        const std::string portText = description.substr(colon + 1);
        unsigned value = 0;
        auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
        if (ec == std::errc() && end == portText.data() + portText.size() && value >= 1 && value <= 65535) {
          port = static_cast<std::uint16_t>(value);
        }
      }
    }
  }
  InterfaceAddresses result;
  if (interface.empty()) {
    result.address4 = ipv4(INADDR_ANY, port);
    result.address6 = ipv6Any(port);
    return result;
  }
  if (interface == "localhost" || interface == "loopback") {
    result.address4 = ipv4Loopback(port);
    result.address6 = ipv6Loopback(port);
    return result;
  }
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (entry->ifa_addr->sa_family == AF_INET && !result.address4) {
      sockaddr_in a = *reinterpret_cast<sockaddr_in*>(entry->ifa_addr);
      ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
      if (interface == entry->ifa_name || interface == text) {
        a.sin_port = htons(port);
        result.address4 = toBytes(a);
      }
    } else if (entry->ifa_addr->sa_family == AF_INET6 && !result.address6) {
      sockaddr_in6 a = *reinterpret_cast<sockaddr_in6*>(entry->ifa_addr);
      ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
      if (interface == entry->ifa_name || interface == text) {
        a.sin6_port = htons(port);
        result.address6 = toBytes(a);
      }
    }
  }
  ::freeifaddrs(list);
  return result;
}

platform::Result<std::vector<Bytes>> lookupHost(const std::string& host, std::uint16_t port, HostResolver& resolver) {
  if (host == "localhost" || host == "loopback") return std::vector<Bytes>{ipv4Loopback(port), ipv6Loopback(port)};
  auto addresses = resolver.resolve(host, port);
  if (!addresses) return addresses.error();
  if (addresses->empty()) return socket_errors::gaiError(EAI_FAIL);
  return addresses;
}

}  // namespace socket_addresses
}  // namespace control
