#include "control/http/CVNWebServer.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/StrandQueue.h"

namespace control {
namespace {

std::optional<std::string> fileContents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The certificate as PEM, whether the resource holds PEM or DER.
std::optional<std::string> certificatePEM(const std::string& bytes) {
  if (bytes.find("-----BEGIN CERTIFICATE-----") != std::string::npos) return bytes;
  const auto* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
  X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size()));
  if (!certificate) return std::nullopt;
  BIO* memory = BIO_new(BIO_s_mem());
  std::optional<std::string> pem;
  char* text = nullptr;
  if (memory && PEM_write_bio_X509(memory, certificate) == 1) {
    const long length = BIO_get_mem_data(memory, &text);
    pem = std::string(text, static_cast<std::size_t>(length));
  }
  BIO_free(memory);
  X509_free(certificate);
  return pem;
}

}  // namespace

std::shared_ptr<CVNWebServer> CVNWebServer::create(std::int32_t port) {
  auto server = std::shared_ptr<CVNWebServer>(new CVNWebServer(port));
  server->listenSocket_ = CVNSocket::create(std::weak_ptr<CVNSocketDelegate>(server), server->socketDelegateQueue_);
  return server;
}

std::shared_ptr<CVNWebServer> CVNWebServer::create(std::int32_t port, std::string netServiceType,
                                                 std::string netServiceDomain,
                                                 std::optional<std::string> netServiceName,
                                                 std::optional<platform::BonjourPublisher::TXTRecord> txtRecord) {
  auto server = create(port);
  server->updateBonjourServiceWithDomain(std::move(netServiceDomain), std::move(netServiceType),
                                         netServiceName.value_or(CVNWebConnection::defaultBonjourServiceName()),
                                         std::move(txtRecord));
  return server;
}

void CVNWebServer::updateBonjourServiceWithDomain(std::string domain, std::string type, std::string name,
                                                  std::optional<platform::BonjourPublisher::TXTRecord> txtRecord) {
  std::optional<platform::Error> failure;
  {
    std::lock_guard guard(mutex_);
    auto service = std::make_unique<platform::BonjourPublisher>(std::move(domain), std::move(type), std::move(name),
                                                                static_cast<std::uint16_t>(port_));
    if (txtRecord) service->setTXTRecord(std::move(*txtRecord));
    if (netService_) netService_->stop();
    netService_ = std::move(service);
    if (isRunning_) {
      if (auto status = netService_->publish(); !status) failure = status.error();
    }
  }
  if (failure) logMessage("Bonjour: " + failure->localizedDescription);
}

std::optional<std::string> CVNWebServer::netServiceName() const {
  std::lock_guard guard(mutex_);
  return netService_ ? std::optional<std::string>(netService_->name()) : std::nullopt;
}

void CVNWebServer::setNetServiceName(std::string name) {
  std::string domain, type;
  std::optional<platform::BonjourPublisher::TXTRecord> txt;
  {
    std::lock_guard guard(mutex_);
    if (!netService_) return;
    domain = netService_->domain();
    type = netService_->type();
    txt = netService_->txtRecord();
  }
  updateBonjourServiceWithDomain(std::move(domain), std::move(type), std::move(name), std::move(txt));
}

bool CVNWebServer::isNetServicePublished() const {
  std::lock_guard guard(mutex_);
  return netService_ && netService_->isPublished();
}

CVNWebServer::CVNWebServer(std::int32_t port)
    : socketDelegateQueue_(std::make_shared<platform::StrandQueue>("com.dirarovazovo.WebService.socketDelegateQueue")),
      port_(port),
      factory_([](std::shared_ptr<CVNSocket> socket, std::weak_ptr<CVNWebConnectionDelegate> delegate) {
        return CVNWebConnection::create(std::move(socket), std::move(delegate));
      }),
      bundle_(platform::Bundle::main()) {}

CVNWebServer::~CVNWebServer() {
  if (listenSocket_) listenSocket_->disconnect();
}

bool CVNWebServer::start() {
  const std::int32_t port = this->port();
  std::optional<platform::Dictionary> settings;
  std::optional<platform::Error> failure;
  if (isSSL()) {
    auto made = tlsSettings();
    if (made) {
      settings = *made;
    } else {
      failure = made.error();
    }
  }
  if (!failure) {
    {
      std::lock_guard guard(mutex_);
      acceptTLS_ = settings;
    }
    if (auto status = listenSocket_->acceptOnPort(static_cast<std::uint16_t>(port)); !status) failure = status.error();
  }
  {
    std::lock_guard guard(mutex_);
    isRunning_ = !failure;
  }
  if (failure) {
    const std::string reason = failure->localizedDescription.empty() ? "Unknown error" : failure->localizedDescription;
    logMessage("Error: Could not listen on port " + std::to_string(port) + ": " + reason);
    return false;
  }
  logMessage("Remote Control is enabled on port: " + std::to_string(port));
  std::optional<platform::Error> published;
  {
    std::lock_guard guard(mutex_);
    if (netService_) {
      if (auto status = netService_->publish(); !status) published = status.error();
    }
  }
  if (published) logMessage("Bonjour: " + published->localizedDescription);
  return true;
}

void CVNWebServer::stop() {
  listenSocket_->disconnect();
  {
    std::lock_guard guard(mutex_);
    if (netService_) netService_->stop();
    isRunning_ = false;
  }
  logMessage("Remote Control is disabled");
}

platform::Result<platform::Dictionary> CVNWebServer::tlsSettings() const {
  std::shared_ptr<const platform::Bundle> bundle;
  std::filesystem::path keyPath;
  {
    std::lock_guard guard(mutex_);
    bundle = bundle_;
    keyPath = privateKeyPath_;
  }
  const auto fail = [](std::string why) { return platform::Error("CVNWebServer", 1, std::move(why)); };
  auto resource = bundle ? bundle->pathForResource("SSLCertificate", "cer") : std::nullopt;
  auto bytes = resource ? fileContents(*resource) : std::nullopt;
  if (!bytes) return fail("TLS needs the SSLCertificate.cer resource, and there is none");
  auto certificate = certificatePEM(*bytes);
  if (!certificate) return fail("SSLCertificate.cer holds no certificate");
  struct stat info{};
  if (keyPath.empty() || ::stat(keyPath.c_str(), &info) != 0) return fail("TLS needs the private key file, and there is none");
  if (info.st_mode & (S_IRWXG | S_IRWXO)) return fail("the private key file may be read by others than its owner");
  auto key = fileContents(keyPath);
  if (!key) return fail("the private key file cannot be read");
  return platform::Dictionary{
      {"kCFStreamSSLIsServer", platform::Value(true)},
      {"kCFStreamSSLCertificates", platform::Value(platform::Array{platform::Value(*key), platform::Value(*certificate)})}};
}

void CVNWebServer::socketDidAcceptNewSocket(const std::shared_ptr<CVNSocket>&, const std::shared_ptr<CVNSocket>& newSocket) {
  if (connections_.size() >= kMaximumConnections) {
    if (!overLimitLogged_) logMessage("Closing new connections: " + std::to_string(kMaximumConnections) + " are open");
    overLimitLogged_ = true;
    newSocket->disconnect();
    return;
  }
  overLimitLogged_ = false;
  ConnectionFactory factory;
  std::optional<platform::Dictionary> settings;
  {
    std::lock_guard guard(mutex_);
    factory = factory_;
    settings = acceptTLS_;
  }
  auto connection = factory(newSocket, std::weak_ptr<CVNWebConnectionDelegate>(shared_from_this()));
  if (!connection) return;
  if (settings) newSocket->startTLS(*settings);
  connections_.push_back(connection);
  connectionCount_ = connections_.size();
  connection->start();
}

void CVNWebServer::connectionDidFinish(CVNWebConnection& connection) {
  std::weak_ptr<CVNWebServer> weak = weak_from_this();
  CVNWebConnection* finished = &connection;
  socketDelegateQueue_->async([weak, finished] {
    auto self = weak.lock();
    if (!self) return;
    std::erase_if(self->connections_, [finished](const auto& c) { return c.get() == finished; });
    self->connectionCount_ = self->connections_.size();
  });
}

void CVNWebServer::logMessage(const std::string& message) {
  std::shared_ptr<CVNWebServerLogDelegate> delegate;
  {
    std::lock_guard guard(mutex_);
    delegate = delegate_.lock();
  }
  if (delegate) delegate->logMessage(message);
}

bool CVNWebServer::allowsOrigin(const std::string& origin) const {
  std::lock_guard guard(mutex_);
  return std::find(allowedOrigins_.begin(), allowedOrigins_.end(), origin) != allowedOrigins_.end();
}
bool CVNWebServer::allowsEveryOrigin() const { return allowsOrigin("*"); }

std::int32_t CVNWebServer::port() const {
  std::lock_guard guard(mutex_);
  return port_;
}
void CVNWebServer::setPort(std::int32_t port) {
  std::string domain, type, name;
  std::optional<platform::BonjourPublisher::TXTRecord> txt;
  {
    std::lock_guard guard(mutex_);
    port_ = port;
    if (!netService_) return;
    domain = netService_->domain();
    type = netService_->type();
    name = netService_->name();
    txt = netService_->txtRecord();
  }
  updateBonjourServiceWithDomain(std::move(domain), std::move(type), std::move(name), std::move(txt));
}
bool CVNWebServer::isSSL() const {
  std::lock_guard guard(mutex_);
  return isSSL_;
}
void CVNWebServer::setIsSSL(bool isSSL) {
  std::lock_guard guard(mutex_);
  isSSL_ = isSSL;
}
bool CVNWebServer::isRunning() const {
  std::lock_guard guard(mutex_);
  return isRunning_;
}
void CVNWebServer::setDelegate(std::weak_ptr<CVNWebServerLogDelegate> delegate) {
  std::lock_guard guard(mutex_);
  delegate_ = std::move(delegate);
}
void CVNWebServer::setConnectionFactory(ConnectionFactory factory) {
  std::lock_guard guard(mutex_);
  factory_ = std::move(factory);
}
void CVNWebServer::setAllowedOrigins(std::vector<std::string> origins) {
  std::lock_guard guard(mutex_);
  allowedOrigins_ = std::move(origins);
}
void CVNWebServer::setBundle(std::shared_ptr<const platform::Bundle> bundle) {
  std::lock_guard guard(mutex_);
  bundle_ = std::move(bundle);
}
void CVNWebServer::setPrivateKeyPath(std::filesystem::path path) {
  std::lock_guard guard(mutex_);
  privateKeyPath_ = std::move(path);
}
std::size_t CVNWebServer::connectionCount() const { return connectionCount_.load(); }

}  // namespace control
