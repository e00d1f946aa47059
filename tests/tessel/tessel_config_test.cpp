// Where the client finds its server and devices: profile, overrides, defaults.
#include <gtest/gtest.h>

#include "platform/profile.h"
#include "tessel/tessel_config.h"
#include "transport_support.h"

namespace {

using transport_test::TesselTest;

class TesselConfigTest : public TesselTest {};

TEST_F(TesselConfigTest, OverridesWinOverTheProfileAndAreNotWrittenBack) {
  setTessel("Server", "http://127.0.0.1:9000");
  setTessel("Scanner", "/dev/ttyACM0");
  setTessel("Printer", "/dev/usb/lp0");

  CTesselConfig::ApplyArguments({"sellin", "--scale", "2", "--server", "127.0.0.1:7000", "--printer=tcp://127.0.0.1:9100",
                                 "--unknown", "x"});
  EXPECT_EQ(CTesselConfig::GetServer(), "127.0.0.1:7000") << "--server must win over the profile";
  EXPECT_EQ(CTesselConfig::GetPrinter(), "tcp://127.0.0.1:9100") << "--printer=DEST must be read";
  EXPECT_EQ(CTesselConfig::GetScanner(), "/dev/ttyACM0") << "without --scanner the profile holds";

  const QString section = CTesselConfig::SectionName();
  EXPECT_EQ(platform::Profile::readString(section, "Server"), "http://127.0.0.1:9000") << "override written back";
  EXPECT_EQ(platform::Profile::readString(section, "Printer"), "/dev/usb/lp0") << "override written back";

  // An option left without its value is ignored, not taken from nowhere.
  CTesselConfig::ApplyArguments({"--scanner"});
  EXPECT_EQ(CTesselConfig::GetScanner(), "/dev/ttyACM0") << "a dangling --scanner changed the scanner";

  CTesselConfig::ClearOverrides();
  EXPECT_EQ(CTesselConfig::GetServer(), "http://127.0.0.1:9000") << "cleared overrides still in force";
}

TEST_F(TesselConfigTest, TimeoutsFallBackToDefaultsUnlessPositive) {
  EXPECT_EQ(CTesselConfig::GetConnectTimeout(), CTesselConfig::kDefaultConnectTimeout) << "empty profile";
  EXPECT_EQ(CTesselConfig::GetReadTimeout(), CTesselConfig::kDefaultReadTimeout) << "empty profile";
  EXPECT_TRUE(CTesselConfig::GetServer().isEmpty()) << "no server was configured";

  setTessel("ConnectTimeout", "2");
  setTessel("ReadTimeout", "0");
  EXPECT_EQ(CTesselConfig::GetConnectTimeout(), 2) << "stored value not read";
  EXPECT_EQ(CTesselConfig::GetReadTimeout(), CTesselConfig::kDefaultReadTimeout) << "0 s would mean no wait at all";
  setTessel("ReadTimeout", "soon");
  EXPECT_EQ(CTesselConfig::GetReadTimeout(), CTesselConfig::kDefaultReadTimeout) << "a non-number must not count";
}

}  // namespace
