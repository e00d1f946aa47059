// Where the client finds its server and devices, the scanner on a real named pipe, and the receipt printer
// (a file or a network printer) to which text goes out unchanged.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <future>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/dialog.h"
#include "platform/profile.h"
#include "tessel/printer.h"
#include "tessel/scanner.h"
#include "tessel/tessel_config.h"
#include "transport_support.h"

namespace {

using TesselConfigTest = transport_test::TesselTest;

TEST_F(TesselConfigTest, OverridesWinAreNotWrittenBackAndBadTimeoutsFallBack) {
  setTessel("Server", "http://127.0.0.1:9000");
  setTessel("Scanner", "/dev/ttyACM0");
  CTesselConfig::Override({.server = "127.0.0.1:7000"});
  EXPECT_EQ(CTesselConfig::GetServer(), "127.0.0.1:7000") << "--server must win over the profile";
  EXPECT_EQ(CTesselConfig::GetScanner(), "/dev/ttyACM0") << "a profile value without an override is lost";
  EXPECT_EQ(platform::Profile::readString(CTesselConfig::SectionName(), "Server"), "http://127.0.0.1:9000")
      << "override written back";

  setTessel("ConnectTimeout", "2");
  EXPECT_EQ(CTesselConfig::GetConnectTimeout(), 2) << "stored value not read";
  for (const char* bad : {"0", "-3", "soon"}) {  // 0 s would mean no wait at all
    setTessel("ReadTimeout", bad);
    EXPECT_EQ(CTesselConfig::GetReadTimeout(), CTesselConfig::kDefaultReadTimeout) << "\"" << bad << "\" counted";
  }
}

// A window that hands WM_SCANNER to its scanner and keeps every WM_SCAN_DATA.
class ScanWindow : public platform::Dialog {
 public:
  ScanWindow()
      : platform::Dialog([] {
          platform::DialogTemplate t;
          t.size = {120, 80};
          return t;
        }()) {
    onMessage(platform::WM_SCANNER,
              [this](const QVariant& w, const QVariant& l) { return m_scanner.OnScannerMsg(w, l); });
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
  // Runs the event loop (5 s at most) until the pipe is drained, posted messages handled and `codes` codes came.
  void waitForCodes(int codes) {
    const QDeadlineTimer deadline(5000);
    int unread = -1;
    while (::ioctl(m_writer, FIONREAD, &unread) != 0 || unread > 0 || m_window.m_codes.size() < codes) {
      if (deadline.hasExpired()) return;
      QTimer wake;  // wakes the loop at the bound even when no event comes
      wake.start(int(std::max<qint64>(1, deadline.remainingTime())));
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents();
  }

  QString m_pipe;
  int m_writer = -1;
  ScanWindow m_window;
};

TEST_F(ScannerTest, EachLineBecomesOneCodeWhateverItsEndAndHoweverItArrives) {
  openScanner();
  const int max = CScanner::kMaxCodeBytes;
  const struct {
    const char* what;
    std::string bytes;
    QStringList codes;
  } steps[] = {
      {"CRLF, CR, LF and UTF-8 in one write; blanks around a code and empty or blank lines are no code",
       "9780131103627\r\n B2 \t\rC3\n\n  \r\nCaf\xc3\xa9\n",
       {"9780131103627", "B2", "C3", QString::fromUtf8("Café")}},
      {"a partial line waits for its end", "97801", {}},
      {"the rest of it, ending in CR", "31103627\r", {"9780131103627"}},
      {"the LF of that CRLF in the next read makes no empty code", "\nNEXT\n", {"NEXT"}},
      {"an over-long line is cut, its rest dropped", std::string(300, 'A') + "\nNEXT\n", {QString(max, 'A'), "NEXT"}},
      {"a character the cut splits is dropped whole",
       std::string(max - 1, 'B') + "\xc3\xa9tail\n",
       {QString(max - 1, 'B')}},
  };
  for (const auto& step : steps) {
    m_window.m_codes.clear();
    ASSERT_EQ(::write(m_writer, step.bytes.data(), step.bytes.size()), ssize_t(step.bytes.size())) << step.what;
    waitForCodes(int(step.codes.size()));
    EXPECT_EQ(m_window.m_codes, step.codes) << step.what;
  }
}

// A code scanned while a box is open would be looked up behind it: dropped.
TEST_F(ScannerTest, CodesWhileAnotherModalWindowIsOpenAreDroppedAndLaterOnesDelivered) {
  openScanner();
  QDialog box;  // stands for a message box over the scanning window
  testsupport::ModalDriver::whenModal([&](QWidget* modal) {
    ASSERT_EQ(::write(m_writer, "X1\nX2\n", 6), 6);
    waitForCodes(0);
    modal->close();
  });
  box.exec();
  EXPECT_EQ(m_window.m_codes, QStringList{}) << "codes reached the window behind the box";
  m_window.m_scanner.LetScansThrough(&box);  // e.g. a prompt that takes the scanned ID
  testsupport::ModalDriver::whenModal([&](QWidget* modal) {
    ASSERT_EQ(::write(m_writer, "S100300\n", 8), 8);
    waitForCodes(1);
    modal->close();
  });
  box.exec();
  ASSERT_EQ(::write(m_writer, "S100200\n", 8), 8);
  waitForCodes(2);
  EXPECT_EQ(m_window.m_codes, (QStringList{"S100300", "S100200"}));
}

TEST_F(ScannerTest, InitRefusesWhatIsNotAScannerAndCloseReleasesThePipe) {
  ScanWindow window;
  const QString file = path("codes.txt");  // a regular file would read as ready for ever
  ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly)) << "cannot create " << file.toStdString();
  for (const QString& scanner : {path("missing.pipe"), QString(), file}) {
    setTessel("Scanner", scanner);
    EXPECT_FALSE(window.m_scanner.Init(&window) || window.m_scanner.IsOpen()) << "Init took " << scanner.toStdString();
  }
  setTessel("Scanner", m_pipe);
  openScanner();
  ::close(std::exchange(m_writer, -1));
  m_window.m_scanner.CloseScanner();
  EXPECT_FALSE(m_window.m_scanner.IsOpen()) << "still open after CloseScanner";
  // A named pipe opened for writing without blocking fails when nobody reads it.
  m_writer = ::open(m_pipe.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
  EXPECT_TRUE(m_writer < 0 && errno == ENXIO) << "the pipe still has a reader after CloseScanner";
}

// Server-formatted receipt text: line ends and non-ASCII must pass untouched.
const QString kReceipt = QString::fromUtf8("Receipt 000123\r\nÉtude — 2 × $12.50\n\tTotal  $25.00\n");

using PrinterTest = transport_test::TesselTest;

TEST_F(PrinterTest, AFileIsAppendedToWithTheTextUnchanged) {
  const QString receipt = path("receipt.txt");
  {
    QFile earlier(receipt);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly)) << "cannot create " << receipt.toStdString();
    earlier.write("earlier\n");
  }
  setTessel("Printer", receipt);
  CPrinter printer;
  ASSERT_TRUE(printer.Open()) << "Open refused " << receipt.toStdString();
  ASSERT_TRUE(printer.Print(kReceipt) && printer.Print("second")) << "Print failed";
  printer.Close();
  QFile printed(receipt);
  ASSERT_TRUE(printed.open(QIODevice::ReadOnly));
  EXPECT_EQ(printed.readAll(), "earlier\n" + kReceipt.toUtf8() + "second") << "file not appended to unchanged";
  EXPECT_FALSE(printer.Print("after close")) << "Print succeeded on a closed printer";
}

TEST_F(PrinterTest, NetworkPrintersReceiveExactlyTheBytes) {
  QTcpServer listener;
  ASSERT_TRUE(listener.listen(QHostAddress::LocalHost)) << "cannot listen on 127.0.0.1";
  auto received = std::async(std::launch::async, [fd = int(listener.socketDescriptor())] {
    return transport_test::readOneConnection(fd, [](const std::string&) { return false; });  // all until closed
  });
  setTessel("Printer", QStringLiteral("tcp://127.0.0.1:%1").arg(listener.serverPort()));
  // Larger than the socket buffers, so it goes out in several writes while the receiver reads.
  const QString big = kReceipt.repeated(20000);
  {
    CPrinter printer;
    ASSERT_TRUE(printer.Open()) << "Open refused a listening port";
    ASSERT_TRUE(printer.Print(big)) << "Print to the network printer failed";
  }  // the destructor closes the connection
  EXPECT_EQ(received.get().value_or("<not closed>"), big.toUtf8().toStdString()) << "bytes received differ";
}

TEST_F(PrinterTest, OpenFailsWhenThereIsNothingToPrintTo) {
  CPrinter printer;
  EXPECT_FALSE(printer.Open()) << "Open succeeded with no printer configured";
  EXPECT_FALSE(printer.Print(kReceipt)) << "Print succeeded without Open";
  QTcpServer closed;  // a port that refuses once the server is closed
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
  const QString refused = QStringLiteral("tcp://127.0.0.1:%1").arg(closed.serverPort());
  closed.close();
  const QString cases[] = {
      path("no-such-dir/receipt.txt"), dir_.path(), "/dev/no-such-printer", refused, "tcp://127.0.0.1",  // no port
  };
  for (const QString& destination : cases) {
    setTessel("Printer", destination);
    EXPECT_FALSE(printer.Open() || printer.IsOpen()) << "Open succeeded for " << destination.toStdString();
  }
  EXPECT_FALSE(QFile::exists("/dev/no-such-printer")) << "a missing device became a file";
}

}  // namespace
