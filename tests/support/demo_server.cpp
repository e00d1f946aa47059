#include "tests/support/demo_server.h"

#include <gtest/gtest.h>

#include "server/store_server.h"

namespace testsupport {

DemoServer::DemoServer() {
  storeserver::ServerOptions options;
  options.port = 0;
  options.databasePath = dir_.filePath(QStringLiteral("store.db")).toStdString();
  options.seedDemo = true;
  options.ioThreads = 1;
  options.workerThreads = 1;
  options.passwordCost = storeserver::PasswordCost::minimum();
  options.logSink = [](std::string_view) {};
  std::string error;
  server_ = storeserver::StoreServer::start(options, error);
  if (!server_) {
    ADD_FAILURE() << "the store server did not start: " << error;
    return;
  }
  url_ = QStringLiteral("http://127.0.0.1:%1").arg(server_->port());
}

DemoServer::~DemoServer() = default;

void DemoServer::stop() { server_.reset(); }

}  // namespace testsupport
