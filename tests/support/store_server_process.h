#pragma once
// The storeserver program as a child process on the demo store, for end-to-end tests.
#include <QDeadlineTimer>
#include <QProcess>

namespace testsupport {

// Starts the program on 127.0.0.1 and a free port with the demo store in
// database; returns the port from its "listening on" line, 0 when it did not
// start within 60 s.
inline int StartStoreServer(QProcess& server, const QString& program, const QString& database) {
  server.start(program, {"--port", "0", "--database", database, "--demo", "--address", "127.0.0.1"});
  const QByteArray prefix = "storeserver listening on 127.0.0.1:";
  QByteArray out;
  const QDeadlineTimer deadline(60000);
  while (!(out.contains(prefix) && out.indexOf('\n', out.indexOf(prefix)) > 0) && !deadline.hasExpired() &&
         server.state() != QProcess::NotRunning) {
    server.waitForReadyRead(500);
    out += server.readAllStandardOutput();
  }
  return out.contains(prefix) ? out.mid(out.indexOf(prefix) + prefix.size()).trimmed().toInt() : 0;
}

}  // namespace testsupport
