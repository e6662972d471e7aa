// TLS hooks of the read and write engines. Plain sockets only for now: no
// operation sets the secure state yet.
#include "control/sockets/CVNSocket.h"

namespace control {

void CVNSocket::maybeStartTLS() {}
void CVNSocket::sslFlushSSLBuffers() {}
std::size_t CVNSocket::sslBufferedBytes() const { return 0; }
bool CVNSocket::sslHandshakeWouldBlock() const { return false; }
void CVNSocket::sslContinueHandshake() {}
void CVNSocket::sslReadIntoPacket(CVNSocketReadPacket&, std::size_t, bool&, bool&, bool&,
                                  std::optional<platform::Error>&, std::size_t&) {}
void CVNSocket::sslWritePacket(CVNSocketWritePacket&, std::size_t&, bool&, std::optional<platform::Error>&) {}
std::optional<platform::Error> CVNSocket::sslEndOfStreamError() const { return std::nullopt; }

}  // namespace control
