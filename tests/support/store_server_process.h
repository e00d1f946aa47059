#pragma once
// The storeserver program as a child process on the demo store, for end-to-end tests.
#include <QString>

class QProcess;

namespace testsupport {

// Starts the program on 127.0.0.1 and a free port with the demo store in
// database; returns the port from its "listening on" line, 0 when it did not
// start within 60 s.
int StartStoreServer(QProcess& server, const QString& program, const QString& database);

}  // namespace testsupport
