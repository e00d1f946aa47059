#pragma once
// Shared by the transport and device tests: a fixture with a private profile
// and a scratch directory.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/profile.h"
#include "tessel/tessel_config.h"
#include "tests/support/qt_fixture.h"

// Readable values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* out) { *out << '"' << bytes.toStdString() << '"'; }

namespace transport_test {

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
