// The receipt printer: text goes out unchanged to a file or a network printer.
#include <QFile>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <future>

#include "tessel/printer.h"
#include "transport_support.h"

namespace {

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
