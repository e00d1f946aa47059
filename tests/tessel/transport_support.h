#pragma once
// Shared by the transport and device tests.
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/profile.h"
#include "tessel/tessel_config.h"
#include "tests/support/qt_fixture.h"

namespace transport_test {

// Test double of a loopback peer: reads one connection until `complete` accepts the bytes or the other side
// closes, then hangs up; the bytes when the other side closed, else nullopt.
inline std::optional<std::string> readOneConnection(int listener,
                                                    const std::function<bool(const std::string&)>& complete) {
  pollfd p{listener, POLLIN, 0};
  if (::poll(&p, 1, 10000) != 1) return std::nullopt;
  pollfd c{::accept(listener, nullptr, nullptr), POLLIN, 0};
  std::string bytes;
  char chunk[4096];
  ssize_t got = 1;
  while (!complete(bytes) && ::poll(&c, 1, 10000) == 1 && (got = ::recv(c.fd, chunk, sizeof chunk, 0)) > 0)
    bytes.append(chunk, std::size_t(got));
  ::close(c.fd);
  return got == 0 ? std::optional(bytes) : std::nullopt;
}

// An empty profile of its own, no command-line overrides, a scratch directory.
class TesselTest : public testsupport::QtFixture {
 protected:
  void SetUp() override {
    QtFixture::SetUp();
    ASSERT_TRUE(dir_.isValid()) << "no scratch directory: " << dir_.errorString().toStdString();
    CTesselConfig::ClearOverrides();
  }
  void TearDown() override {
    CTesselConfig::ClearOverrides();
    QtFixture::TearDown();
  }
  void setTessel(const QString& name, const QString& value) {
    platform::Profile::writeString(CTesselConfig::SectionName(), name, value);
  }
  QString path(const QString& name) const { return dir_.filePath(name); }
  QTemporaryDir dir_;
};

}  // namespace transport_test
