#pragma once
// Socket addresses as byte buffers holding Linux's records (IPv4 16 bytes,
// family 2; IPv6 28 bytes, family 10; Unix-domain 110 bytes, family 1; no
// length byte), interface descriptions and host lookup.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/sockets/CVNSocketTypes.h"
#include "platform/Error.h"

namespace control {

// Resolves host names (getaddrinfo behind an interface, so tests can script
// answers and delays). Called on a global queue; may block.
class HostResolver {
 public:
  virtual ~HostResolver() = default;
  // The IPv4 and IPv6 addresses of `host` in resolver order, each with `port`;
  // a resolver failure as a NetDB-domain error.
  virtual platform::Result<std::vector<Bytes>> resolve(const std::string& host, std::uint16_t port) = 0;

  static std::shared_ptr<HostResolver> system();
};

namespace socket_addresses {

Bytes ipv4(std::uint32_t hostOrderAddress, std::uint16_t port);
Bytes ipv4Loopback(std::uint16_t port);
Bytes ipv6Loopback(std::uint16_t port);
// Parses a numeric address ("127.0.0.1", "::1").
std::optional<Bytes> fromText(const std::string& text, std::uint16_t port);

bool isIPv4Address(const Bytes& address);
bool isIPv6Address(const Bytes& address);
// Host text and port of an IPv4 (>= 16 bytes) or IPv6 (>= 28 bytes) buffer.
bool getHostPortFamily(const Bytes& address, std::string* host, std::uint16_t* port, int* family);
std::string hostFromAddress(const Bytes& address);
std::uint16_t portFromAddress(const Bytes& address);
void setPort(Bytes& address, std::uint16_t port);

// A Unix-domain address for `path`, or none when the path is empty or too long.
std::optional<Bytes> unixAddress(const std::filesystem::path& path);
std::filesystem::path pathFromUnixAddress(const Bytes& address, std::size_t length);

struct InterfaceAddresses {
  std::optional<Bytes> address4;
  std::optional<Bytes> address6;
};
// "" (wildcards), "localhost"/"loopback", an interface name or address from
// getifaddrs, each optionally followed by ":port" (used when `port` is 0).
InterfaceAddresses interfaceAddresses(const std::string& description, std::uint16_t port);

// "localhost" and "loopback" without the resolver (127.0.0.1, then ::1); any
// other host through `resolver`. An empty answer is EAI_FAIL.
platform::Result<std::vector<Bytes>> lookupHost(const std::string& host, std::uint16_t port, HostResolver& resolver);

}  // namespace socket_addresses
}  // namespace control
