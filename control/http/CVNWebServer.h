#pragma once
// CVNWebServer: the embedded HTTP/1.1 server for remote control. It listens on
// one TCP port (both families), wraps each accepted socket in TLS when isSSL,
// and hands it to a new connection of the host's class (a CVNWebConnection
// subclass with the routes). At most 256 connections live at once; more are
// closed at accept.
//
// TLS identity: the bundle's "SSLCertificate.cer" (DER or PEM) and the private
// key (PEM) at privateKeyPath, a file only its owner may read. start() fails
// when isSSL and either is missing: the server never falls back to plain HTTP.
//
// Bonjour: while running, the service (type, domain, name, TXT record) is
// published; setPort and setNetServiceName re-make it.
//
// Accepting and the connection list live on the strand
// "com.dirarovazovo.WebService.socketDelegateQueue"; members are safe from any
// thread. Made with create(); held by shared_ptr.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "control/http/CVNWebConnection.h"
#include "control/sockets/CVNSocket.h"
#include "platform/BonjourPublisher.h"
#include "platform/Bundle.h"

namespace control {

class CVNWebServerLogDelegate {
 public:
  virtual ~CVNWebServerLogDelegate() = default;
  virtual void logMessage(const std::string& message) = 0;
};

class CVNWebServer : public CVNSocketDelegate,
                     public CVNWebConnectionDelegate,
                     public std::enable_shared_from_this<CVNWebServer> {
 public:
  static constexpr std::size_t kMaximumConnections = 256;
  using ConnectionFactory = std::function<std::shared_ptr<CVNWebConnection>(
      std::shared_ptr<CVNSocket>, std::weak_ptr<CVNWebConnectionDelegate>)>;

  static std::shared_ptr<CVNWebServer> create(std::int32_t port);
  // Also announces the server over Bonjour while it runs; no name: the
  // default service name.
  static std::shared_ptr<CVNWebServer> create(std::int32_t port, std::string netServiceType,
                                              std::string netServiceDomain, std::optional<std::string> netServiceName,
                                              std::optional<platform::BonjourPublisher::TXTRecord> txtRecord);
  ~CVNWebServer() override;

  bool start();
  void stop();

  // Re-makes the Bonjour service (published again when running).
  void updateBonjourServiceWithDomain(std::string domain, std::string type, std::string name,
                                      std::optional<platform::BonjourPublisher::TXTRecord> txtRecord);
  std::optional<std::string> netServiceName() const;
  void setNetServiceName(std::string name);
  bool isNetServicePublished() const;

  std::int32_t port() const;
  void setPort(std::int32_t port);
  bool isSSL() const;
  void setIsSSL(bool isSSL);
  bool isRunning() const;
  void setDelegate(std::weak_ptr<CVNWebServerLogDelegate> delegate);
  template <typename T>
  void setConnectionClass() {
    static_assert(std::is_base_of_v<CVNWebConnection, T>, "connections are CVNWebConnections");
    setConnectionFactory([](std::shared_ptr<CVNSocket> socket, std::weak_ptr<CVNWebConnectionDelegate> delegate) {
      return std::static_pointer_cast<CVNWebConnection>(CVNWebConnection::create<T>(std::move(socket), std::move(delegate)));
    });
  }
  // Origins whose pages may read the answers ("*": every origin); none by default.
  void setAllowedOrigins(std::vector<std::string> origins);
  // Where the TLS certificate resource is looked up (the main bundle by default).
  void setBundle(std::shared_ptr<const platform::Bundle> bundle);
  void setPrivateKeyPath(std::filesystem::path path);
  // How many connections are open (for tests and diagnostics).
  std::size_t connectionCount() const;

  void logMessage(const std::string& message) override;
  void connectionDidFinish(CVNWebConnection& connection) override;
  bool allowsOrigin(const std::string& origin) const override;
  bool allowsEveryOrigin() const override;
  void socketDidAcceptNewSocket(const std::shared_ptr<CVNSocket>& listener,
                                const std::shared_ptr<CVNSocket>& newSocket) override;

 private:
  explicit CVNWebServer(std::int32_t port);
  void setConnectionFactory(ConnectionFactory factory);
  // The TLS settings of accepted sockets, or why there are none.
  platform::Result<platform::Dictionary> tlsSettings() const;

  const std::shared_ptr<platform::DispatchQueue> socketDelegateQueue_;
  std::shared_ptr<CVNSocket> listenSocket_;
  mutable std::mutex mutex_;
  std::int32_t port_;                                      // guarded by mutex_
  bool isSSL_ = false;                                     // guarded by mutex_
  bool isRunning_ = false;                                 // guarded by mutex_
  std::weak_ptr<CVNWebServerLogDelegate> delegate_;        // guarded by mutex_
  ConnectionFactory factory_;                              // guarded by mutex_
  std::vector<std::string> allowedOrigins_;                // guarded by mutex_
  std::shared_ptr<const platform::Bundle> bundle_;         // guarded by mutex_
  std::filesystem::path privateKeyPath_;                   // guarded by mutex_
  std::optional<platform::Dictionary> acceptTLS_;          // guarded by mutex_
  std::unique_ptr<platform::BonjourPublisher> netService_;  // guarded by mutex_
  std::vector<std::shared_ptr<CVNWebConnection>> connections_;  // socketDelegateQueue_ only
  std::atomic<std::size_t> connectionCount_{0};
  bool overLimitLogged_ = false;                           // socketDelegateQueue_ only
};

}  // namespace control
