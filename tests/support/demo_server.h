#pragma once
// The store server in this process on 127.0.0.1, a free port, the demo store in SQLite, cheap password hashes.
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "tests/support/test_certificates.h"

namespace storeserver {
class StoreServer;
}

namespace testsupport {

class DemoServer {
 public:
  // Starts the server (check started()); with a certificate and key it speaks only TLS.
  explicit DemoServer(const KeyPair& tls = {});
  ~DemoServer();

  bool started() const { return server_ != nullptr; }
  // "http://127.0.0.1:<port>" ("https://" with TLS), also after stop().
  QString url() const { return url_; }
  quint16 port() const;
  // Stops the server; the port then refuses connections.
  void stop();

 private:
  QTemporaryDir dir_;
  std::unique_ptr<storeserver::StoreServer> server_;
  QString url_;
  quint16 port_ = 0;
};

}  // namespace testsupport
