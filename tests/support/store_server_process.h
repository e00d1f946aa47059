#pragma once
// The storeserver program as a child process on a demo store of its own, for end-to-end tests.
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace testsupport {

class StoreServerProcess {
 public:
  // Starts it on 127.0.0.1 and a free port read from its "listening on" line; fails the test after 60 s.
  explicit StoreServerProcess(const QString& program) {
    server_.start(program, {"--port", "0", "--database", database(), "--demo", "--address", "127.0.0.1"});
    const QByteArray prefix = "storeserver listening on 127.0.0.1:";
    QByteArray out;
    const QDeadlineTimer deadline(60000);
    while (!(out.contains(prefix) && out.indexOf('\n', out.indexOf(prefix)) > 0) && !deadline.hasExpired() &&
           server_.state() != QProcess::NotRunning) {
      server_.waitForReadyRead(500);
      out += server_.readAllStandardOutput();
    }
    if (out.contains(prefix)) port_ = out.mid(out.indexOf(prefix) + prefix.size()).trimmed().toInt();
    if (!port_) ADD_FAILURE() << "storeserver did not start: " << server_.readAllStandardError().toStdString();
  }
  ~StoreServerProcess() { stop(); }

  bool started() const { return port_ > 0; }
  QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
  QString database() const { return dir_.filePath(QStringLiteral("store.db")); }
  // A file name in the server's scratch directory.
  QString scratch(const QString& name) const { return dir_.filePath(name); }
  // Ends the program as a service manager does; the test fails if it stays.
  void stop() {
    if (server_.state() == QProcess::NotRunning) return;
    server_.terminate();
    EXPECT_TRUE(server_.waitForFinished(30000)) << "storeserver did not end on SIGTERM";
  }

 private:
  QTemporaryDir dir_;
  QProcess server_;
  int port_ = 0;
};

}  // namespace testsupport
