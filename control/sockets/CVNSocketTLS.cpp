// TLS on OpenSSL, driven over the socket's own descriptor through a BIO whose
// read and write are the socket's TLS I/O below. Everything here runs on the
// socket queue.
//
// Settings keys of startTLS, checked in this order:
//   kCFStreamSSLIsServer (boolean), CVNSocketManuallyEvaluateTrust (boolean,
//   clients only), kCFStreamSSLPeerName (string: name indication and host
//   check), kCFStreamSSLCertificates (array of PEM texts or data holding the
//   own certificate, its chain and its private key), CVNSocketSSLPeerID (data:
//   session reuse key), CVNSocketSSLProtocolVersionMin/Max (OpenSSL version
//   numbers, 0 = unset, never below TLS 1.2), CVNSocketSSLSessionOptionFalseStart
//   and ...SendOneByteRecord (checked, no effect here), CVNSocketSSLCipherSuites
//   (IANA numbers), CVNSocketSSLDiffieHellmanParameters (PEM data). Five keys of
//   the desktop's streams are refused outright.
//
// A client checks the server: chain against the default roots (SSL_CERT_FILE
// and SSL_CERT_DIR name others), name against kCFStreamSSLPeerName or the
// connected host, at least TLS 1.2.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "control/sockets/CVNSocket.h"
#include "control/sockets/CVNSocketTrust.h"

namespace control {
namespace {

constexpr std::size_t kTLSReadSize = 32768;
constexpr std::size_t kTLSReadMargin = 16384;
constexpr std::size_t kTLSWriteSlice = 32768;
constexpr int kSSLCertificateFailure = -9807;
constexpr int kSSLFailure = -9800;

constexpr const char* kIsServer = "kCFStreamSSLIsServer";
constexpr const char* kManualTrust = "CVNSocketManuallyEvaluateTrust";
constexpr const char* kPeerName = "kCFStreamSSLPeerName";
constexpr const char* kCertificates = "kCFStreamSSLCertificates";
constexpr const char* kPeerID = "CVNSocketSSLPeerID";
constexpr const char* kVersionMin = "CVNSocketSSLProtocolVersionMin";
constexpr const char* kVersionMax = "CVNSocketSSLProtocolVersionMax";
constexpr const char* kFalseStart = "CVNSocketSSLSessionOptionFalseStart";
constexpr const char* kOneByteRecord = "CVNSocketSSLSessionOptionSendOneByteRecord";
constexpr const char* kCipherSuites = "CVNSocketSSLCipherSuites";
constexpr const char* kDHParameters = "CVNSocketSSLDiffieHellmanParameters";
constexpr const char* kRefusedKeys[] = {"kCFStreamSSLAllowsAnyRoot", "kCFStreamSSLAllowsExpiredRoots",
                                        "kCFStreamSSLValidatesCertificateChain",
                                        "kCFStreamSSLAllowsExpiredCertificates", "kCFStreamSSLLevel"};

// The text of a PEM item given as a string or as data.
std::optional<std::string> pemText(const platform::Value& value) {
  if (auto* text = value.string()) return *text;
  if (auto* data = value.data()) return std::string(data->begin(), data->end());
  return std::nullopt;
}

// What OpenSSL says about its last failure, and its queue emptied.
std::string openSSLReason() {
  std::string reason;
  while (unsigned long code = ERR_get_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    reason = text;
  }
  return reason;
}

// Client sessions kept for reuse, by the owner's peer ID.
struct SessionCache {
  std::mutex mutex;
  std::map<platform::Data, std::shared_ptr<SSL_SESSION>> sessions;
  static SessionCache& shared() {
    static SessionCache* cache = new SessionCache();  // alive until the process ends
    return *cache;
  }
};

}  // namespace

struct CVNSocket::TLSSession {
  SSL_CTX* context = nullptr;
  SSL* ssl = nullptr;
  CVNSocketPreBuffer preBuffer{4096};
  std::size_t writeCachedLength = 0;
  int errCode = 0;
  int lastHandshakeError = 0;
  bool closedAbort = false;  // the descriptor broke or ended under the engine
  bool manualTrust = false;
  std::optional<bool> trustDecision;  // the delegate's answer, for the re-run check
  long verdict = X509_V_OK;            // the library's own check of the peer chain
  std::optional<platform::Data> peerID;
  ~TLSSession() {
    if (ssl) SSL_free(ssl);
    if (context) SSL_CTX_free(context);
  }
};

// The C entry points OpenSSL calls, forwarded to the socket.
struct TLSBridge {
  static int read(BIO* bio, char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    auto* socket = static_cast<CVNSocket*>(BIO_get_data(bio));
    std::size_t processed = 0;
    const int status = socket->sslReadWithBuffer(reinterpret_cast<std::uint8_t*>(buffer), std::size_t(length), processed);
    if (processed > 0) return static_cast<int>(processed);
    if (status == kSSLWouldBlock) {
      BIO_set_retry_read(bio);
      return -1;
    }
    return 0;
  }
  static int write(BIO* bio, const char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    auto* socket = static_cast<CVNSocket*>(BIO_get_data(bio));
    std::size_t processed = 0;
    const int status =
        socket->sslWriteWithBuffer(reinterpret_cast<const std::uint8_t*>(buffer), std::size_t(length), processed);
    if (processed > 0) return static_cast<int>(processed);
    if (status == kSSLWouldBlock) {
      BIO_set_retry_write(bio);
      return -1;
    }
    return -1;
  }
  static long control(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }
  static BIO_METHOD* method() {
    static BIO_METHOD* method = [] {
      BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "CVNSocket");
      BIO_meth_set_read(m, &TLSBridge::read);
      BIO_meth_set_write(m, &TLSBridge::write);
      BIO_meth_set_ctrl(m, &TLSBridge::control);
      return m;
    }();
    return method;
  }

  // Client certificate check: OpenSSL's verdict, and with manual trust a pause
  // until the delegate has answered.
  static int verify(X509_STORE_CTX* store, void* argument) {
    auto* socket = static_cast<CVNSocket*>(argument);
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const int verdict = X509_verify_cert(store);
    CVNSocket::TLSSession& tls = *socket->tls_;
    tls.verdict = X509_STORE_CTX_get_error(store);
    if (!tls.manualTrust) return verdict > 0 ? 1 : 0;
    if (tls.trustDecision) return *tls.trustDecision ? 1 : 0;
    // Success with the retry mark set pauses the handshake until the answer.
    return SSL_set_retry_verify(ssl) == 1 ? 1 : 0;
  }

  static int newSession(SSL* ssl, SSL_SESSION* session) {
    auto* socket = static_cast<CVNSocket*>(SSL_get_app_data(ssl));
    if (!socket || !socket->tls_ || !socket->tls_->peerID) return 0;
    auto& cache = SessionCache::shared();
    std::lock_guard guard(cache.mutex);
    cache.sessions[*socket->tls_->peerID] = std::shared_ptr<SSL_SESSION>(session, SSL_SESSION_free);
    return 1;  // the cache keeps the reference
  }

  // The socket's status for what an engine call answered.
  static int status(CVNSocket& socket, int result, std::string& detail) {
    CVNSocket::TLSSession& tls = *socket.tls_;
    switch (SSL_get_error(tls.ssl, result)) {
      case SSL_ERROR_NONE:
        return 0;
      case SSL_ERROR_WANT_READ:
      case SSL_ERROR_WANT_WRITE:
        return kSSLWouldBlock;
      case SSL_ERROR_WANT_RETRY_VERIFY:
        return kSSLPeerAuthCompleted;
      case SSL_ERROR_ZERO_RETURN:
        return kSSLClosedGraceful;
      default:
        break;
    }
    detail = openSSLReason();
    if (tls.closedAbort) return kSSLClosedAbort;
    const long verifyResult = SSL_get_verify_result(tls.ssl);
    if (verifyResult != X509_V_OK) {
      detail = X509_verify_cert_error_string(verifyResult);
      return kSSLCertificateFailure;
    }
    return detail.empty() ? kSSLClosedAbort : kSSLFailure;
  }
};

void CVNSocket::startTLS(platform::Dictionary settings) {
  auto packet = std::make_unique<CVNSocketSpecialPacket>(CVNSocketSpecialPacket{std::move(settings)});
  async([packet = std::shared_ptr<CVNSocketSpecialPacket>(std::move(packet))](CVNSocket& s) {
    if (!(s.flags_ & kStarted) || (s.flags_ & (kForbidReadsWrites | kQueuedTLS))) return;
    s.readQueue_.emplace_back(std::make_unique<CVNSocketSpecialPacket>(*packet));
    s.writeQueue_.emplace_back(std::make_unique<CVNSocketSpecialPacket>(*packet));
    s.flags_ |= kQueuedTLS;
    s.maybeDequeueRead();
    s.maybeDequeueWrite();
  });
}

void CVNSocket::maybeStartTLS() {
  if ((flags_ & kStartingReadTLS) && (flags_ & kStartingWriteTLS)) sslStartTLS();
}

void CVNSocket::sslSetUpFailed(std::string message) { closeWithError(socket_errors::otherError(std::move(message))); }

void CVNSocket::sslStartTLS() {
  auto* marker = currentRead_ ? std::get_if<std::unique_ptr<CVNSocketSpecialPacket>>(&*currentRead_) : nullptr;
  if (!marker || !*marker) return sslSetUpFailed("Logic error");
  const platform::Dictionary& settings = (*marker)->tlsSettings;
  const auto find = [&](const char* key) -> const platform::Value* {
    auto it = settings.find(key);
    return it == settings.end() ? nullptr : &it->second;
  };
  ERR_clear_error();

  // 1. Side, context, I/O and connection.
  const platform::Value* sideValue = find(kIsServer);
  const bool isServer = sideValue && sideValue->booleanOr(false);
  tls_ = std::make_shared<TLSSession>();
  tls_->context = SSL_CTX_new(isServer ? TLS_server_method() : TLS_client_method());
  if (!tls_->context || !(tls_->ssl = SSL_new(tls_->context))) return sslSetUpFailed("Error in SSLCreateContext");
  SSL_set_min_proto_version(tls_->ssl, TLS1_2_VERSION);
  // A write the descriptor refused is repeated from the packet, which may have moved.
  SSL_set_mode(tls_->ssl, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  BIO* bio = BIO_new(TLSBridge::method());
  if (!bio) return sslSetUpFailed("Error in SSLSetIOFuncs");
  BIO_set_data(bio, this);
  BIO_set_init(bio, 1);
  SSL_set_bio(tls_->ssl, bio, bio);
  if (SSL_set_app_data(tls_->ssl, this) != 1) return sslSetUpFailed("Error in SSLSetConnection");
  if (isServer) {
    SSL_set_accept_state(tls_->ssl);
  } else {
    SSL_set_connect_state(tls_->ssl);
    SSL_set_verify(tls_->ssl, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(tls_->context, &TLSBridge::verify, this);
    if (SSL_CTX_set_default_verify_paths(tls_->context) != 1) ERR_clear_error();
  }

  // 2. Manual trust.
  if (const platform::Value* manual = find(kManualTrust); manual && manual->booleanOr(false)) {
    if (isServer) return sslSetUpFailed("Manual trust validation is not supported for server sockets");
    tls_->manualTrust = true;
  }

  // 3. The keys in order.
  std::string peerName;
  if (const platform::Value* value = find(kPeerName)) {
    if (!value->string()) return sslSetUpFailed("Invalid value for kCFStreamSSLPeerName.");
    peerName = *value->string();
    if (!peerName.empty() && !isServer && SSL_set_tlsext_host_name(tls_->ssl, peerName.c_str()) != 1) {
      return sslSetUpFailed("Error in SSLSetPeerDomainName");
    }
  }
  if (!isServer) {
    // The name checked: the one given, else the host connected to.
    const std::string host = peerName.empty() ? connectedHost() : peerName;
    X509_VERIFY_PARAM* parameters = SSL_get0_param(tls_->ssl);
    const bool isAddress = X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str()) == 1;
    if (!isAddress) {
      ERR_clear_error();
      if (SSL_set1_host(tls_->ssl, host.c_str()) != 1) return sslSetUpFailed("Error in SSLSetPeerDomainName");
    }
  }
  if (const platform::Value* value = find(kCertificates)) {
    if (!value->array() || value->array()->empty()) return sslSetUpFailed("Invalid value for kCFStreamSSLCertificates.");
    std::string pem;
    for (const platform::Value& item : *value->array()) {
      auto text = pemText(item);
      if (!text) return sslSetUpFailed("Invalid value for kCFStreamSSLCertificates.");
      pem += *text + "\n";
    }
    BIO* memory = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    STACK_OF(X509_INFO)* items = memory ? PEM_X509_INFO_read_bio(memory, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(memory);
    bool haveCertificate = false, haveKey = false, failed = !items;
    for (int i = 0; items && i < sk_X509_INFO_num(items); ++i) {
      X509_INFO* item = sk_X509_INFO_value(items, i);
      if (item->x509) {
        failed |= (haveCertificate ? SSL_add1_chain_cert(tls_->ssl, item->x509) : SSL_use_certificate(tls_->ssl, item->x509)) != 1;
        haveCertificate = true;
      }
      if (item->x_pkey && item->x_pkey->dec_pkey && !haveKey) {
        failed |= SSL_use_PrivateKey(tls_->ssl, item->x_pkey->dec_pkey) != 1;
        haveKey = true;
      }
    }
    if (items) sk_X509_INFO_pop_free(items, X509_INFO_free);
    if (!haveCertificate || !haveKey) {
      ERR_clear_error();
      return sslSetUpFailed("Invalid value for kCFStreamSSLCertificates.");
    }
    if (failed || SSL_check_private_key(tls_->ssl) != 1) return sslSetUpFailed("Error in SSLSetCertificate");
  }
  if (const platform::Value* value = find(kPeerID)) {
    if (!value->data()) return sslSetUpFailed("Invalid value for CVNSocketSSLPeerID.");
    const platform::Data& id = *value->data();
    if (isServer) {
      const auto length = std::min<std::size_t>(id.size(), SSL_MAX_SID_CTX_LENGTH);
      if (SSL_set_session_id_context(tls_->ssl, id.data(), static_cast<unsigned>(length)) != 1) {
        return sslSetUpFailed("Error in SSLSetPeerID");
      }
    } else {
      tls_->peerID = id;
      SSL_CTX_set_session_cache_mode(tls_->context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
      SSL_CTX_sess_set_new_cb(tls_->context, &TLSBridge::newSession);
      auto& cache = SessionCache::shared();
      std::lock_guard guard(cache.mutex);
      auto it = cache.sessions.find(id);
      if (it != cache.sessions.end() && SSL_set_session(tls_->ssl, it->second.get()) != 1) {
        return sslSetUpFailed("Error in SSLSetPeerID");
      }
    }
  }
  const auto setVersion = [&](const char* key, const char* invalid, const char* refused, bool minimum) {
    const platform::Value* value = find(key);
    if (!value) return true;
    if (!value->isNumber()) return sslSetUpFailed(invalid), false;
    const std::int64_t version = value->integerOr(0);
    if (version == 0) return true;
    const int set = minimum ? SSL_set_min_proto_version(tls_->ssl, static_cast<int>(version))
                            : SSL_set_max_proto_version(tls_->ssl, static_cast<int>(version));
    if (version < TLS1_2_VERSION || set != 1) return sslSetUpFailed(refused), false;
    return true;
  };
  if (!setVersion(kVersionMin, "Invalid value for CVNSocketSSLProtocolVersionMin.", "Error in SSLSetProtocolVersionMin",
                  true) ||
      !setVersion(kVersionMax, "Invalid value for CVNSocketSSLProtocolVersionMax.", "Error in SSLSetProtocolVersionMax",
                  false)) {
    return;
  }
  if (const platform::Value* value = find(kFalseStart); value && !value->boolean()) {
    return sslSetUpFailed("Invalid value for CVNSocketSSLSessionOptionFalseStart.");
  }
  if (const platform::Value* value = find(kOneByteRecord); value && !value->boolean()) {
    return sslSetUpFailed("Invalid value for CVNSocketSSLSessionOptionSendOneByteRecord.");
  }
  if (const platform::Value* value = find(kCipherSuites)) {
    if (!value->array()) return sslSetUpFailed("Invalid value for CVNSocketSSLCipherSuites.");
    std::string tls12, tls13;
    for (const platform::Value& item : *value->array()) {
      if (!item.isInteger()) return sslSetUpFailed("Invalid value for CVNSocketSSLCipherSuites.");
      const auto number = static_cast<std::uint16_t>(*item.integer());
      const unsigned char bytes[2] = {static_cast<unsigned char>(number >> 8), static_cast<unsigned char>(number)};
      const SSL_CIPHER* cipher = SSL_CIPHER_find(tls_->ssl, bytes);
      if (!cipher) return sslSetUpFailed("Error in SSLSetEnabledCiphers");
      std::string& list = std::strcmp(SSL_CIPHER_get_version(cipher), "TLSv1.3") == 0 ? tls13 : tls12;
      list += (list.empty() ? "" : ":") + std::string(SSL_CIPHER_get_name(cipher));
    }
    // A list naming no suite of one protocol version leaves that version without any.
    if (SSL_set_cipher_list(tls_->ssl, tls12.empty() ? "-ALL" : tls12.c_str()) != 1 && !tls12.empty()) {
      return sslSetUpFailed("Error in SSLSetEnabledCiphers");
    }
    if (SSL_set_ciphersuites(tls_->ssl, tls13.c_str()) != 1) return sslSetUpFailed("Error in SSLSetEnabledCiphers");
    ERR_clear_error();
  }
  if (const platform::Value* value = find(kDHParameters)) {
    auto text = value->data() ? pemText(*value) : std::nullopt;
    if (!text) return sslSetUpFailed("Invalid value for CVNSocketSSLDiffieHellmanParameters.");
    BIO* memory = BIO_new_mem_buf(text->data(), static_cast<int>(text->size()));
    EVP_PKEY* parameters = memory ? PEM_read_bio_Parameters(memory, nullptr) : nullptr;
    BIO_free(memory);
    if (!parameters || SSL_set0_tmp_dh_pkey(tls_->ssl, parameters) != 1) {
      EVP_PKEY_free(parameters);
      return sslSetUpFailed("Error in SSLSetDiffieHellmanParams");
    }
  }

  // 4. Keys that would weaken the check.
  for (const char* key : kRefusedKeys) {
    if (find(key)) return sslSetUpFailed(std::string("Security option unavailable - ") + key);
  }

  // 5. Bytes read ahead of the plain reads belong to the TLS stream.
  if (const std::size_t ahead = preBuffer_.availableBytes()) {
    tls_->preBuffer.ensureCapacityForWrite(ahead);
    std::memcpy(tls_->preBuffer.writeBuffer(), preBuffer_.readBuffer(), ahead);
    tls_->preBuffer.didWrite(ahead);
    preBuffer_.didRead(ahead);
  }
  tls_->errCode = 0;
  tls_->lastHandshakeError = 0;
  sslContinueHandshake();
}

void CVNSocket::sslContinueHandshake() {
  if (!tls_) return;
  std::string detail;
  const int status = TLSBridge::status(*this, SSL_do_handshake(tls_->ssl), detail);
  tls_->lastHandshakeError = status;
  if (status == 0) {
    flags_ &= ~(kStartingReadTLS | kStartingWriteTLS);
    flags_ |= kSocketSecure;
    notifyDelegate([](CVNSocketDelegate& d, const std::shared_ptr<CVNSocket>& s) { d.socketDidSecure(s); });
    endCurrentRead();
    endCurrentWrite();
    maybeDequeueRead();
    maybeDequeueWrite();
    return;
  }
  if (status == kSSLWouldBlock) {
    // Only the direction the engine waits for stays armed, so nothing spins.
    if (SSL_want_write(tls_->ssl)) {
      flags_ &= ~kSocketCanAcceptBytes;
      resumeWriteSource();
    } else {
      suspendWriteSource();
    }
    return;
  }
  if (status == kSSLPeerAuthCompleted) {
    std::vector<std::string> chain;
    if (STACK_OF(X509)* peers = SSL_get_peer_cert_chain(tls_->ssl)) {
      for (int i = 0; i < sk_X509_num(peers); ++i) {
        BIO* memory = BIO_new(BIO_s_mem());
        char* text = nullptr;
        if (memory && PEM_write_bio_X509(memory, sk_X509_value(peers, i)) == 1) {
          const long length = BIO_get_mem_data(memory, &text);
          chain.emplace_back(text, static_cast<std::size_t>(length));
        }
        BIO_free(memory);
      }
    }
    if (chain.empty()) return closeWithError(socket_errors::sslError(kSSLPeerAuthCompleted));
    const long verdict = tls_->verdict;
    auto trust = std::make_shared<CVNSocketTrust>(std::move(chain), verdict == X509_V_OK,
                                                  verdict == X509_V_OK ? "" : X509_verify_cert_error_string(verdict));
    auto delegate = delegate_.lock();
    if (!delegate || !delegate->handlesTrustEvaluation() || !delegateQueue_) {
      return sslSetUpFailed(
          "CVNSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't implement socket:shouldTrustPeer:");
    }
    std::weak_ptr<CVNSocket> weak = weak_from_this();
    const int index = stateIndex_;
    auto queue = socketQueue_;
    auto used = std::make_shared<std::atomic<bool>>(false);
    std::function<void(bool)> completion = [weak, index, queue, used](bool trusted) {
      if (used->exchange(true)) return;
      queue->async([weak, index, trusted] {
        if (auto self = weak.lock()) self->sslTrustDecided(trusted, index);
      });
    };
    auto self = shared_from_this();
    delegateQueue_->async([delegate, self, trust, completion] { delegate->socketDidReceiveTrust(self, trust, completion); });
    return;
  }
  closeWithError(socket_errors::sslError(status, detail));
}

void CVNSocket::sslTrustDecided(bool trusted, int stateIndex) {
  if (stateIndex != stateIndex_ || !tls_ || !(flags_ & kStarted)) return;
  ++stateIndex_;
  if (!trusted) return closeWithError(socket_errors::sslError(kSSLPeerBadCert));
  tls_->trustDecision = true;
  sslContinueHandshake();
}

int CVNSocket::sslReadWithBuffer(std::uint8_t* buffer, std::size_t length, std::size_t& processed) {
  processed = 0;
  TLSSession& tls = *tls_;
  if (socketFDBytesAvailable_ == 0 && tls.preBuffer.availableBytes() == 0) {
    resumeReadSource();
    return kSSLWouldBlock;
  }
  if (const std::size_t ahead = std::min(length, tls.preBuffer.availableBytes())) {
    std::memcpy(buffer, tls.preBuffer.readBuffer(), ahead);
    tls.preBuffer.didRead(ahead);
    processed = ahead;
    if (processed == length) return 0;
  }
  if (socketFDBytesAvailable_ > 0) {
    const std::size_t missing = length - processed;
    // Take all that was announced in one call; the engine's small reads come from here.
    const bool intoPreBuffer = socketFDBytesAvailable_ > missing;
    std::uint8_t* destination = buffer + processed;
    std::size_t wanted = missing;
    if (intoPreBuffer) {
      tls.preBuffer.ensureCapacityForWrite(socketFDBytesAvailable_);
      destination = tls.preBuffer.writeBuffer();
      wanted = socketFDBytesAvailable_;
    }
    const ssize_t result = ::read(connectedFD(), destination, wanted);
    if (result < 0) {
      const bool wouldBlock = errno == EAGAIN || errno == EWOULDBLOCK;
      socketFDBytesAvailable_ = 0;
      if (!wouldBlock) tls.closedAbort = true;
      if (processed == 0) return wouldBlock ? kSSLWouldBlock : kSSLClosedAbort;
    } else if (result == 0) {
      socketFDBytesAvailable_ = 0;
      tls.closedAbort = true;
      if (processed == 0) return kSSLClosedAbort;
    } else {
      const auto got = static_cast<std::size_t>(result);
      socketFDBytesAvailable_ = socketFDBytesAvailable_ > got ? socketFDBytesAvailable_ - got : 0;
      if (intoPreBuffer) {
        tls.preBuffer.didWrite(got);
        const std::size_t served = std::min(missing, got);
        std::memcpy(buffer + processed, tls.preBuffer.readBuffer(), served);
        tls.preBuffer.didRead(served);
        processed += served;
      } else {
        processed += got;
      }
    }
  }
  if (processed < length && socketFDBytesAvailable_ == 0 && tls.preBuffer.availableBytes() == 0) resumeReadSource();
  return processed == length ? 0 : kSSLWouldBlock;
}

int CVNSocket::sslWriteWithBuffer(const std::uint8_t* buffer, std::size_t length, std::size_t& processed) {
  processed = 0;
  if (!(flags_ & kSocketCanAcceptBytes)) {
    resumeWriteSource();
    return kSSLWouldBlock;
  }
  const ssize_t result = ::send(connectedFD(), buffer, length, MSG_NOSIGNAL);
  if (result <= 0) {
    flags_ &= ~kSocketCanAcceptBytes;
    resumeWriteSource();
    if (result == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return kSSLWouldBlock;
    tls_->closedAbort = true;
    return kSSLClosedAbort;
  }
  processed = static_cast<std::size_t>(result);
  if (processed < length) {
    flags_ &= ~kSocketCanAcceptBytes;
    resumeWriteSource();
    return kSSLWouldBlock;
  }
  return 0;
}

std::size_t CVNSocket::sslBufferedBytes() const {
  if (!tls_) return 0;
  return tls_->preBuffer.availableBytes() + static_cast<std::size_t>(std::max(0, SSL_pending(tls_->ssl)));
}

bool CVNSocket::sslHandshakeWouldBlock() const { return tls_ && tls_->lastHandshakeError == kSSLWouldBlock; }

void CVNSocket::sslReadIntoPacket(CVNSocketReadPacket& packet, std::size_t estimated, bool& done, bool& waiting,
                                  bool& eof, std::optional<platform::Error>& error, std::size_t& totalBytesRead) {
  const std::size_t defaultSize = estimated > kTLSReadSize ? estimated + kTLSReadMargin : kTLSReadSize;
  bool intoPreBuffer = false;
  const std::size_t size = packet.optimalReadLengthWithDefault(defaultSize, intoPreBuffer);
  std::uint8_t* destination;
  if (intoPreBuffer) {
    preBuffer_.ensureCapacityForWrite(size);
    destination = preBuffer_.writeBuffer();
  } else {
    packet.ensureCapacityForAdditionalDataOfLength(size);
    destination = packet.writePosition();
  }
  std::size_t bytesRead = 0;
  int status = 0;
  std::string detail;
  while (status == 0 && bytesRead < size) {
    std::size_t got = 0;
    const int result = SSL_read_ex(tls_->ssl, destination + bytesRead, size - bytesRead, &got);
    status = result == 1 ? 0 : TLSBridge::status(*this, 0, detail);
    bytesRead += got;
  }
  if (status == kSSLWouldBlock) {
    waiting = true;
  } else if (status == kSSLClosedGraceful || status == kSSLClosedAbort) {
    eof = true;
    tls_->errCode = status;
  } else if (status != 0) {
    error = socket_errors::sslError(status, detail);
  }
  if (!intoPreBuffer && packet.bufferOwner) packet.buffer->resize(packet.startOffset + packet.bytesDone + bytesRead);
  if (bytesRead == 0) return;
  if (intoPreBuffer) {
    preBuffer_.didWrite(bytesRead);
    std::size_t length;
    if (!packet.term.empty()) {
      length = packet.readLengthForTermWithPreBuffer(preBuffer_, done);
    } else {
      length = packet.readLengthForNonTermWithHint(preBuffer_.availableBytes());
    }
    packet.ensureCapacityForAdditionalDataOfLength(length);
    std::memcpy(packet.writePosition(), preBuffer_.readBuffer(), length);
    preBuffer_.didRead(length);
    packet.bytesDone += length;
    totalBytesRead += length;
  } else if (!packet.term.empty()) {
    const std::ptrdiff_t overflow = packet.searchForTermAfterPreBuffering(bytesRead);
    std::size_t kept = bytesRead;
    if (overflow >= 0) {
      kept = bytesRead - static_cast<std::size_t>(overflow);
      preBuffer_.ensureCapacityForWrite(static_cast<std::size_t>(overflow));
      std::memcpy(preBuffer_.writeBuffer(), packet.writePosition() + kept, static_cast<std::size_t>(overflow));
      preBuffer_.didWrite(static_cast<std::size_t>(overflow));
      done = true;
    }
    packet.bytesDone += kept;
    totalBytesRead += kept;
  } else {
    packet.bytesDone += bytesRead;
    totalBytesRead += bytesRead;
  }
  if (packet.readLength > 0) {
    done = packet.bytesDone == packet.readLength;
  } else if (packet.term.empty()) {
    done = true;
  } else if (!done && packet.maxLength > 0 && packet.bytesDone >= packet.maxLength) {
    error = socket_errors::readMaxedOutError();
  }
}

void CVNSocket::sslFlushSSLBuffers() {
  if (!tls_ || preBuffer_.availableBytes() > 0) return;
  std::size_t estimate = socketFDBytesAvailable_ + sslBufferedBytes();
  while (estimate > 0) {
    preBuffer_.ensureCapacityForWrite(estimate);
    std::size_t got = 0;
    const int result = SSL_read_ex(tls_->ssl, preBuffer_.writeBuffer(), estimate, &got);
    preBuffer_.didWrite(got);
    if (result != 1) {
      std::string detail;
      const int status = TLSBridge::status(*this, result, detail);
      if (status == kSSLClosedGraceful || status == kSSLClosedAbort) tls_->errCode = status;
      break;
    }
    estimate = socketFDBytesAvailable_ + sslBufferedBytes();
  }
}

void CVNSocket::sslWritePacket(CVNSocketWritePacket& packet, std::size_t& written, bool& waiting,
                               std::optional<platform::Error>& error) {
  std::string detail;
  // A slice the engine took but could not send yet goes out first, with the same bytes.
  if (tls_->writeCachedLength > 0) {
    std::size_t sent = 0;
    const std::size_t cached = tls_->writeCachedLength;
    const int result = SSL_write_ex(tls_->ssl, packet.buffer->data() + packet.bytesDone, cached, &sent);
    const int status = result == 1 ? 0 : TLSBridge::status(*this, result, detail);
    if (status == kSSLWouldBlock) {
      waiting = true;
      return;
    }
    if (status != 0) {
      error = socket_errors::sslError(status, detail);
      return;
    }
    written = cached;
    tls_->writeCachedLength = 0;
    if (packet.bytesDone + written == packet.buffer->size()) return;
  }
  while (packet.bytesDone + written < packet.buffer->size()) {
    const std::size_t slice = std::min(kTLSWriteSlice, packet.buffer->size() - packet.bytesDone - written);
    std::size_t sent = 0;
    const int result = SSL_write_ex(tls_->ssl, packet.buffer->data() + packet.bytesDone + written, slice, &sent);
    const int status = result == 1 ? 0 : TLSBridge::status(*this, result, detail);
    if (status == 0) {
      written += sent;
      continue;
    }
    if (status == kSSLWouldBlock) {
      tls_->writeCachedLength = slice;
      waiting = true;
    } else {
      error = socket_errors::sslError(status, detail);
    }
    return;
  }
}

std::optional<platform::Error> CVNSocket::sslEndOfStreamError() const {
  if (!tls_ || tls_->errCode == 0 || tls_->errCode == kSSLClosedGraceful) return std::nullopt;
  return socket_errors::sslError(tls_->errCode);
}

void CVNSocket::sslEndSession() {
  if (!tls_) return;
  // A close notice, as far as the descriptor takes it now.
  if (flags_ & kSocketSecure) {
    flags_ |= kSocketCanAcceptBytes;
    SSL_shutdown(tls_->ssl);
  }
  ERR_clear_error();
  tls_.reset();
}

}  // namespace control
