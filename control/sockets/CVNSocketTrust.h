#pragma once
// CVNSocketTrust: what a client socket learned of the server during a handshake
// paused for the delegate's judgement: the peer's certificate chain (PEM, the
// server's own certificate first) and the TLS library's own verdict on it.
//
// An immutable value, shared with the delegate; safe from any thread.

#include <string>
#include <vector>

namespace control {

class CVNSocketTrust {
 public:
  CVNSocketTrust(std::vector<std::string> certificateChain, bool verified, std::string verificationError)
      : certificateChain_(std::move(certificateChain)),
        verified_(verified),
        verificationError_(std::move(verificationError)) {}

  const std::vector<std::string>& certificateChain() const { return certificateChain_; }
  // True when the chain checked out against the trusted roots and the host name.
  bool verified() const { return verified_; }
  // The library's reason when not verified.
  const std::string& verificationError() const { return verificationError_; }

 private:
  std::vector<std::string> certificateChain_;
  bool verified_;
  std::string verificationError_;
};

}  // namespace control
