#pragma once
// A lighttpd on 127.0.0.1 for HTTP client tests: "/basic/" and "/digest/"
// guarded by the realm "Switcher" (user "operator", password "right"),
// "/open/" free, and a log of request heads whose lines can be counted.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include <openssl/evp.h>
#include "tests/support/ChildProcess.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace testing_support {

// A port nothing listens on right now.
inline int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

inline bool acceptsConnections(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

inline std::string md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  static const char* kHex = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

class LighttpdFixture {
 public:
  LighttpdFixture() : port_(freeLoopbackPort()) {
    const auto root = folder_.path();
    for (const char* sub : {"www/basic", "www/digest", "www/open"}) std::filesystem::create_directories(root / sub);
    for (const char* file : {"www/basic/index.txt", "www/digest/index.txt", "www/open/index.txt"}) {
      std::ofstream(root / file) << "hello";
    }
    std::ofstream(root / "www/open/big.bin") << std::string(2 << 20, 'x');
    // htdigest line: user:realm:md5(user:realm:password).
    std::ofstream(root / "users.htdigest") << "operator:Switcher:" << md5Hex("operator:Switcher:right") << "\n";
    std::ofstream(root / "lighttpd.conf")
        << "server.document-root = \"" << (root / "www").string() << "\"\n"
        << "server.bind = \"127.0.0.1\"\nserver.port = " << port_ << "\n"
        << "server.errorlog = \"" << (root / "error.log").string() << "\"\n"
        << "server.modules = (\"mod_auth\", \"mod_authn_file\")\n"
        // Request heads go to the error log as they arrive (the access log is buffered).
        << "debug.log-request-header = \"enable\"\n"
        << "auth.backend = \"htdigest\"\n"
        << "auth.backend.htdigest.userfile = \"" << (root / "users.htdigest").string() << "\"\n"
        << "auth.require = ( \"/basic/\" => (\"method\" => \"basic\", \"realm\" => \"Switcher\", "
           "\"require\" => \"valid-user\"),\n"
        << "  \"/digest/\" => (\"method\" => \"digest\", \"realm\" => \"Switcher\", \"require\" => \"valid-user\") )\n";
    std::string error;
    server_ = ChildProcess::start({"/usr/sbin/lighttpd", "-D", "-f", (root / "lighttpd.conf").string()}, {}, &error);
    ready_ = server_ && waitForCondition([&] { return acceptsConnections(port_); }, "lighttpd");
  }
  ~LighttpdFixture() {
    if (server_) server_->stop();
  }

  bool ready() const { return ready_; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  // Requests for `path` the server has received.
  std::size_t requestsFor(const std::string& path) const { return linesContaining(" " + path + " HTTP/"); }
  // Lines of the request heads received so far that hold `text`.
  std::size_t linesContaining(const std::string& text) const {
    std::ifstream log(folder_.path() / "error.log");
    std::size_t count = 0;
    for (std::string line; std::getline(log, line);) count += line.find(text) != std::string::npos;
    return count;
  }

 private:
  TemporaryDirectory folder_;
  int port_;
  std::unique_ptr<ChildProcess> server_;
  bool ready_ = false;
};

}  // namespace testing_support
