// The scanner through a real named pipe, as the demo and the storescan command use it.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/dialog.h"
#include "platform/window_messages.h"
#include "tessel/scanner.h"
#include "transport_support.h"

namespace {

using transport_test::waitUntil;

platform::DialogTemplate scanTemplate() {
  platform::DialogTemplate t;
  t.id = 1;
  t.title = QStringLiteral("Scan");
  t.size = {120, 80};
  return t;
}

// A window that hands WM_SCANNER to its scanner and keeps every WM_SCAN_DATA.
class ScanWindow : public platform::Dialog {
 public:
  ScanWindow() : platform::Dialog(scanTemplate()) {
    onMessage(platform::WM_SCANNER, [this](const QVariant& w, const QVariant& l) { return m_scanner.OnScannerMsg(w, l); });
    onMessage(platform::WM_SCAN_DATA, [this](const QVariant& w, const QVariant&) -> qintptr {
      m_codes << w.toString();
      return -1;
    });
  }
  CScanner m_scanner;
  QStringList m_codes;
};

class ScannerTest : public transport_test::TesselTest {
 protected:
  void SetUp() override {
    TesselTest::SetUp();
    m_pipe = path("scanner.pipe");
    ASSERT_EQ(::mkfifo(m_pipe.toLocal8Bit().constData(), 0600), 0) << "mkfifo: " << strerror(errno);
    setTessel("Scanner", m_pipe);
  }
  void TearDown() override {
    if (m_writer >= 0) ::close(m_writer);
    TesselTest::TearDown();
  }

  // Opens the scanner, then the pipe's writing end, as a scanner device would be.
  void openScanner() {
    ASSERT_TRUE(m_window.m_scanner.Init(&m_window)) << "Init refused the named pipe " << m_pipe.toStdString();
    m_writer = ::open(m_pipe.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(m_writer, 0) << "cannot open the pipe for writing: " << strerror(errno);
  }
  void send(const std::string& bytes) {
    ASSERT_EQ(::write(m_writer, bytes.data(), bytes.size()), ssize_t(bytes.size())) << "short write to the pipe";
  }
  // Runs the loop until the scanner has taken every byte from the pipe and
  // every message it posted has been handled.
  void drain() {
    int pending = -1;
    ASSERT_TRUE(waitUntil([&] { return ::ioctl(m_writer, FIONREAD, &pending) == 0 && pending == 0; }))
        << pending << " bytes left unread in the pipe";
    for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents();
  }
  bool waitForCodes(int count) {
    return waitUntil([&] { return m_window.m_codes.size() >= count; });
  }

  QString m_pipe;
  int m_writer = -1;
  ScanWindow m_window;
};

TEST_F(ScannerTest, CodesArriveInOrderWithEveryLineEndStripped) {
  openScanner();
  send("9780131103627\n");
  ASSERT_TRUE(waitForCodes(1)) << "no WM_SCAN_DATA for one code";
  EXPECT_EQ(m_window.m_codes, QStringList{"9780131103627"});

  // CRLF, CR alone, LF; an empty line is a code too; two codes in one write.
  send("A1\r\nB2\rC3\n\nD4\nE5\n");
  ASSERT_TRUE(waitForCodes(7)) << "got only: " << m_window.m_codes.join('|').toStdString();
  EXPECT_EQ(m_window.m_codes, (QStringList{"9780131103627", "A1", "B2", "C3", "", "D4", "E5"}));

  // UTF-8 decoded, not Latin-1.
  send("Caf\xc3\xa9\n");
  ASSERT_TRUE(waitForCodes(8)) << "no code for a UTF-8 line";
  EXPECT_EQ(m_window.m_codes.last(), QString::fromUtf8("Café"));
}

TEST_F(ScannerTest, PartialLinesWaitForTheirEnd) {
  openScanner();
  send("97801");
  drain();
  EXPECT_TRUE(m_window.m_codes.isEmpty()) << "a partial line was delivered: " << m_window.m_codes.join('|').toStdString();

  send("31103627\r");
  ASSERT_TRUE(waitForCodes(1)) << "the completed line never arrived";
  // The LF of a CRLF split across two reads must not make an empty code.
  drain();
  send("\nNEXT\n");
  ASSERT_TRUE(waitForCodes(2)) << "the second code never arrived";
  drain();
  EXPECT_EQ(m_window.m_codes, (QStringList{"9780131103627", "NEXT"}));
}

TEST_F(ScannerTest, OverLongLinesAreCutAndTheRestDropped) {
  openScanner();
  send(std::string(300, 'A') + "\n" + "NEXT\n");
  // The cut falls inside a two-byte character: the broken half is dropped too.
  send(std::string(CScanner::kMaxCodeBytes - 1, 'B') + "\xc3\xa9" + "tail\n");
  ASSERT_TRUE(waitForCodes(3)) << "got only: " << m_window.m_codes.size() << " codes";
  EXPECT_EQ(m_window.m_codes[0], QString(CScanner::kMaxCodeBytes, 'A')) << "over-long line not cut at the limit";
  EXPECT_EQ(m_window.m_codes[1], "NEXT") << "the rest of the over-long line leaked into the next code";
  EXPECT_EQ(m_window.m_codes[2], QString(CScanner::kMaxCodeBytes - 1, 'B')) << "a split character survived the cut";
}

TEST_F(ScannerTest, CloseScannerReleasesThePipe) {
  openScanner();
  ::close(m_writer);
  m_writer = -1;
  // A named pipe opened for writing without blocking fails when nobody reads it.
  m_window.m_scanner.CloseScanner();
  const int writer = ::open(m_pipe.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
  const int error = errno;
  if (writer >= 0) ::close(writer);
  EXPECT_LT(writer, 0) << "the pipe still has a reader after CloseScanner";
  EXPECT_EQ(error, ENXIO) << strerror(error);
  EXPECT_FALSE(m_window.m_scanner.IsOpen()) << "still open after CloseScanner";
}

TEST_F(ScannerTest, InitRefusesWhatIsNotAScanner) {
  ScanWindow window;
  setTessel("Scanner", path("missing.pipe"));
  EXPECT_FALSE(window.m_scanner.Init(&window)) << "Init accepted a missing path";
  setTessel("Scanner", "");
  EXPECT_FALSE(window.m_scanner.Init(&window)) << "Init accepted an unconfigured scanner";
  // A regular file would read as ready for ever.
  const QString file = path("codes.txt");
  ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly)) << "cannot create " << file.toStdString();
  setTessel("Scanner", file);
  EXPECT_FALSE(window.m_scanner.Init(&window)) << "Init accepted a regular file";
  EXPECT_FALSE(window.m_scanner.IsOpen()) << "a refused Init left the scanner open";
  setTessel("Scanner", m_pipe);
  EXPECT_FALSE(window.m_scanner.Init(nullptr)) << "Init accepted no window";
}

TEST_F(ScannerTest, StorescanCommandDeliversCodes) {
  openScanner();
  QProcess storescan;
  storescan.start(STORESCAN_PATH, {"--device", m_pipe, "9780131103627", "0201633612"});
  ASSERT_TRUE(storescan.waitForFinished(10000)) << "storescan did not finish";
  ASSERT_EQ(storescan.exitCode(), 0) << storescan.readAllStandardError().toStdString();
  ASSERT_TRUE(waitForCodes(2)) << "got only: " << m_window.m_codes.join('|').toStdString();
  EXPECT_EQ(m_window.m_codes, (QStringList{"9780131103627", "0201633612"}));
}

TEST_F(ScannerTest, StorescanCreatesTheDefaultPipeAndSaysWhenNobodyReads) {
  const QString fresh = path("fresh.pipe");
  QProcess storescan;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("STORE_SCANNER", fresh);
  storescan.setProcessEnvironment(environment);
  storescan.start(STORESCAN_PATH, {"CODE"});
  ASSERT_TRUE(storescan.waitForFinished(10000)) << "storescan waited for a reader instead of failing";
  EXPECT_EQ(storescan.exitCode(), 1) << "no reader, yet storescan reported success";
  EXPECT_TRUE(storescan.readAllStandardError().contains("no program is reading")) << "unhelpful message";
  struct stat info {};
  ASSERT_EQ(::stat(fresh.toLocal8Bit().constData(), &info), 0) << "STORE_SCANNER pipe not created";
  EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "STORE_SCANNER path is not a named pipe";
}

}  // namespace
