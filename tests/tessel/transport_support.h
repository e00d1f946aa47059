#pragma once
// Shared by the transport and device tests: the Qt fixture (a private profile
// per test), a scratch directory, and a bounded wait on the event loop.
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

#include "tests/support/qt_fixture.h"

namespace transport_test {

// Runs the event loop until done() holds or boundMs pass; returns done().
bool waitUntil(const std::function<bool()>& done, int boundMs = 5000);

// An empty profile of its own, no command-line overrides, a scratch directory.
class TesselTest : public testsupport::QtFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Sets a value of the "Tessel" profile section.
  void setTessel(const QString& name, const QString& value);
  QString path(const QString& name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
};

}  // namespace transport_test
