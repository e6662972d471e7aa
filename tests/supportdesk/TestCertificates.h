#pragma once
// A test CA and a certificate it signed for 127.0.0.1, made by openssl in a
// temporary folder for the life of the object.
#include <filesystem>

#include "tests/support/HttpCaptureServer.h"
#include "tests/support/TemporaryDirectory.h"

class TestCertificates {
 public:
  TestCertificates();
  bool made() const { return made_; }
  std::filesystem::path authority() const { return folder_ / "ca.pem"; }
  testing_support::TlsIdentity server() const {
    return {(folder_ / "good.pem").string(), (folder_ / "good.key").string()};
  }

 private:
  testing_support::TemporaryDirectory folder_;
  bool made_ = false;
};
