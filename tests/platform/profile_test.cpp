// The profile store on an INI file in the test's own directory.
#include <QDir>
#include <QFile>

#include "platform/profile.h"
#include "tests/support/qt_fixture.h"

using platform::Profile;

namespace {

using ProfileStore = testsupport::QtFixture;

}  // namespace

TEST_F(ProfileStore, ValuesRoundTripAndMissingOnesGiveTheFallback) {
  EXPECT_EQ(Profile::readString("Sellin", "UserName"), QString());
  EXPECT_EQ(Profile::readString("Sellin", "UserName", "nobody"), QStringLiteral("nobody"));
  EXPECT_EQ(Profile::readInt("Sellin", "StoreNum", 1), 1);

  Profile::writeString("Sellin", "UserName", "buyer, main store");
  Profile::writeInt("Sellin", "StoreNum", -12);
  EXPECT_EQ(Profile::readString("Sellin", "UserName", "nobody"), QStringLiteral("buyer, main store"));
  EXPECT_EQ(Profile::readInt("Sellin", "StoreNum", 1), -12);
  EXPECT_EQ(Profile::readString("Sellin", "StoreNum"), QStringLiteral("-12"));

  Profile::remove("Sellin", "StoreNum");
  EXPECT_EQ(Profile::readInt("Sellin", "StoreNum", 1), 1);
  EXPECT_EQ(Profile::readString("Sellin", "UserName"), QStringLiteral("buyer, main store"));
}

TEST_F(ProfileStore, ReadIntFallsBackOnTextThatIsNoInteger) {
  for (const char* text : {"abc", "12abc", "", "1.5", "99999999999"}) {
    Profile::writeString("Tessel", "ReadTimeout", text);
    EXPECT_EQ(Profile::readInt("Tessel", "ReadTimeout", 15), 15) << text;
  }
  Profile::writeString("Tessel", "ReadTimeout", " 30 ");
  EXPECT_EQ(Profile::readInt("Tessel", "ReadTimeout", 15), 30);
}

TEST_F(ProfileStore, SectionsAndKeysAreKeptApart) {
  Profile::writeString("Sellin", "UserName", "buyer");
  Profile::writeString("Adoptra", "UserName", "clerk");
  EXPECT_EQ(Profile::readString("Sellin", "UserName"), QStringLiteral("buyer"));
  EXPECT_EQ(Profile::readString("Adoptra", "UserName"), QStringLiteral("clerk"));
  EXPECT_EQ(Profile::readString("Stipendo", "UserName"), QString());

  Profile::setRegistryKey("OST_PDA", "Other");
  EXPECT_EQ(Profile::readString("Sellin", "UserName"), QString()) << "another profile name, another store";
  Profile::setRegistryKey("OST_PDA", "OST");
  EXPECT_EQ(Profile::readString("Sellin", "UserName"), QStringLiteral("buyer"));
}

TEST_F(ProfileStore, WritesAreOnDiskUnderTheChosenDirectory) {
  const QString expected = QDir(profileDirectory()).filePath("OST_PDA/OST.ini");
  EXPECT_EQ(Profile::fileName(), expected);
  Profile::writeString("Stipendo", "UserName", "clerk");
  Profile::writeInt("Stipendo", "KeepPassword", 1);

  QFile file(expected);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(file.readAll());
  EXPECT_TRUE(text.contains("[Stipendo]")) << qPrintable(text);
  EXPECT_TRUE(text.contains("UserName=clerk")) << qPrintable(text);
  EXPECT_TRUE(text.contains("KeepPassword=1")) << qPrintable(text);
}

TEST_F(ProfileStore, HandEditedValuesAreRead) {
  QDir(profileDirectory()).mkpath("OST_PDA");
  QFile file(Profile::fileName());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Tessel]\nServer=http://127.0.0.1:8080\nConnectTimeout=7\nPrinter=tcp://a,b\n");
  file.close();
  EXPECT_EQ(Profile::readString("Tessel", "Server"), QStringLiteral("http://127.0.0.1:8080"));
  EXPECT_EQ(Profile::readInt("Tessel", "ConnectTimeout", 5), 7);
  EXPECT_EQ(Profile::readString("Tessel", "Printer"), QStringLiteral("tcp://a,b"));
}
