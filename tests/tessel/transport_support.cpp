#include "transport_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include "platform/profile.h"
#include "tessel/tessel_config.h"

namespace transport_test {

bool waitUntil(const std::function<bool()>& done, int boundMs) {
  QDeadlineTimer deadline(boundMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    // Wakes the loop at the bound even when no event comes.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(int(std::max<qint64>(1, deadline.remainingTime())));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

void TesselTest::SetUp() {
  QtFixture::SetUp();
  ASSERT_TRUE(dir_.isValid()) << "no scratch directory: " << dir_.errorString().toStdString();
  CTesselConfig::ClearOverrides();
}

void TesselTest::TearDown() {
  CTesselConfig::ClearOverrides();
  QtFixture::TearDown();
}

void TesselTest::setTessel(const QString& name, const QString& value) {
  platform::Profile::writeString(CTesselConfig::SectionName(), name, value);
}

}  // namespace transport_test
