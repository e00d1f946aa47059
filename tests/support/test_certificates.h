#pragma once
// An authority and server certificates it signs, made with the openssl command as the README tells a store.
#include <filesystem>
#include <string>

namespace testsupport {

struct KeyPair {
  std::string certificate;  // PEM file
  std::string key;          // PEM file
};

class TestCertificates {
 public:
  // A new authority in dir; ok() is false when openssl failed.
  TestCertificates(const std::filesystem::path& dir, const std::string& name);

  bool ok() const { return ok_; }
  const KeyPair& authority() const { return authority_; }
  // Signed for subjectAltName ("IP:127.0.0.1"); empty names when openssl failed.
  KeyPair issue(const std::string& name, const std::string& subjectAltName) const;

 private:
  std::filesystem::path dir_;
  KeyPair authority_;
  bool ok_ = false;
};

}  // namespace testsupport
