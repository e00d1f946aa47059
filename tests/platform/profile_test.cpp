// The profile store on an INI file in the test's own directory.
#include <QDir>
#include <QFile>

#include "platform/profile.h"
#include "tests/support/qt_fixture.h"

using platform::Profile;

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

using ProfileStore = testsupport::QtFixture;

}  // namespace

TEST_F(ProfileStore, ValuesRoundTripPerSectionAndMissingOrBadOnesGiveTheFallback) {
  EXPECT_EQ(Profile::readString("Sellin", "UserName", "nobody"), QStringLiteral("nobody"));
  Profile::writeString("Sellin", "UserName", "buyer, main store");
  Profile::writeString("Adoptra", "UserName", "clerk");
  Profile::writeInt("Sellin", "StoreNum", -12);
  EXPECT_EQ(Profile::readString("Sellin", "UserName", "nobody"), QStringLiteral("buyer, main store"));
  EXPECT_EQ(Profile::readString("Adoptra", "UserName"), QStringLiteral("clerk")) << "sections mixed up";
  EXPECT_EQ(Profile::readInt("Sellin", "StoreNum", 1), -12);
  Profile::remove("Sellin", "StoreNum");
  EXPECT_EQ(Profile::readInt("Sellin", "StoreNum", 1), 1) << "removed value still read";
  for (const char* text : {"abc", "12abc", "", "1.5", "99999999999"}) {
    Profile::writeString("Tessel", "ReadTimeout", text);
    EXPECT_EQ(Profile::readInt("Tessel", "ReadTimeout", 15), 15) << "\"" << text << "\" read as a number";
  }
  Profile::writeString("Tessel", "ReadTimeout", " 30 ");
  EXPECT_EQ(Profile::readInt("Tessel", "ReadTimeout", 15), 30);
}

// The file may hold a kept password: only its owner reads it, also when it
// was there before with wider rights.
TEST_F(ProfileStore, TheIniFileIsWrittenAtOnceForItsOwnerOnlyAndHandEditsAreRead) {
  QFile file(QDir(profileDirectory()).filePath("OST_PDA/OST.ini"));
  EXPECT_EQ(Profile::fileName(), file.fileName());
  Profile::writeString("Stipendo", "Password", "clerk1");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "nothing on disk after a write";
  EXPECT_TRUE(file.readAll().contains("[Stipendo]\nPassword=clerk1"));
  file.close();
  const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  EXPECT_EQ(file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), ownerOnly);

  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Tessel]\nServer=http://127.0.0.1:8080\nConnectTimeout=7\nPrinter=tcp://a,b\n");
  file.close();
  file.setPermissions(ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther);
  EXPECT_EQ(Profile::readString("Tessel", "Server"), QStringLiteral("http://127.0.0.1:8080"));
  EXPECT_EQ(Profile::readInt("Tessel", "ConnectTimeout", 5), 7);
  EXPECT_EQ(Profile::readString("Tessel", "Printer"), QStringLiteral("tcp://a,b")) << "a comma split the value";
  Profile::writeInt("Stipendo", "KeepPassword", 1);
  EXPECT_EQ(file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), ownerOnly);
}
