#include "tests/support/test_certificates.h"

#include <cstdlib>

namespace testsupport {

namespace {

// Small elliptic-curve keys: made in milliseconds.
const std::string kNewKey = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

std::string shellQuoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

TestCertificates::TestCertificates(const std::filesystem::path& dir, const std::string& name) : dir_(dir) {
  authority_ = {(dir / (name + ".pem")).string(), (dir / (name + ".key")).string()};
  ok_ = run("openssl req -x509" + kNewKey + " -days 2 -subj '/CN=" + name + "' -keyout " + shellQuoted(authority_.key) +
            " -out " + shellQuoted(authority_.certificate));
}

KeyPair TestCertificates::issue(const std::string& name, const std::string& subjectAltName) const {
  const KeyPair pair{(dir_ / (name + ".pem")).string(), (dir_ / (name + ".key")).string()};
  const std::filesystem::path request = dir_ / (name + ".csr");
  const bool made =
      ok_ &&
      run("openssl req" + kNewKey + " -subj '/CN=" + name + "' -addext 'subjectAltName=" + subjectAltName +
          "' -keyout " + shellQuoted(pair.key) + " -out " + shellQuoted(request)) &&
      run("openssl x509 -req -days 2 -copy_extensions copyall -in " + shellQuoted(request) + " -CA " +
          shellQuoted(authority_.certificate) + " -CAkey " + shellQuoted(authority_.key) + " -CAcreateserial -out " +
          shellQuoted(pair.certificate));
  return made ? pair : KeyPair{};
}

}  // namespace testsupport
