#include "tests/support/demo_server.h"

#include <gtest/gtest.h>

#include "server/store_server.h"

namespace testsupport {

DemoServer::DemoServer(const KeyPair& tls) {
  storeserver::ServerOptions options;
  options.port = 0;
  options.databasePath = dir_.filePath(QStringLiteral("store.db")).toStdString();
  options.seedDemo = true;
  options.ioThreads = 1;
  options.workerThreads = 1;
  options.passwordCost = storeserver::PasswordCost::minimum();
  options.tlsCertificate = tls.certificate;
  options.tlsKey = tls.key;
  options.logSink = [](std::string_view) {};  // keeps the test output to the tests' own
  std::string error;
  server_ = storeserver::StoreServer::start(options, error);
  if (!server_) {
    ADD_FAILURE() << "the store server did not start: " << error;
    return;
  }
  port_ = server_->port();
  url_ = QStringLiteral("%1://127.0.0.1:%2").arg(tls.certificate.empty() ? "http" : "https").arg(port_);
}

DemoServer::~DemoServer() = default;

quint16 DemoServer::port() const { return port_; }

void DemoServer::stop() { server_.reset(); }

}  // namespace testsupport
