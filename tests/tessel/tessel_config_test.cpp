// Where the client finds its server and devices: profile, overrides, defaults.
#include <gtest/gtest.h>

#include "platform/profile.h"
#include "tessel/tessel_config.h"
#include "transport_support.h"

namespace {

using TesselConfigTest = transport_test::TesselTest;

TEST_F(TesselConfigTest, OverridesWinAreNotWrittenBackAndBadTimeoutsFallBack) {
  setTessel("Server", "http://127.0.0.1:9000");
  setTessel("Scanner", "/dev/ttyACM0");
  CTesselConfig::ApplyArguments({"sellin", "--scale", "2", "--server", "127.0.0.1:7000",
                                 "--printer=tcp://127.0.0.1:9100", "--unknown", "x", "--scanner"});
  EXPECT_EQ(CTesselConfig::GetServer(), "127.0.0.1:7000") << "--server must win over the profile";
  EXPECT_EQ(CTesselConfig::GetPrinter(), "tcp://127.0.0.1:9100") << "--printer=DEST must be read";
  EXPECT_EQ(CTesselConfig::GetScanner(), "/dev/ttyACM0") << "an option without its value must be ignored";
  EXPECT_EQ(platform::Profile::readString(CTesselConfig::SectionName(), "Server"), "http://127.0.0.1:9000")
      << "override written back";

  setTessel("ConnectTimeout", "2");
  EXPECT_EQ(CTesselConfig::GetConnectTimeout(), 2) << "stored value not read";
  for (const char* bad : {"0", "-3", "soon"}) {  // 0 s would mean no wait at all
    setTessel("ReadTimeout", bad);
    EXPECT_EQ(CTesselConfig::GetReadTimeout(), CTesselConfig::kDefaultReadTimeout) << "\"" << bad << "\" counted";
  }
}

}  // namespace
