// The receipt printer: text goes out unchanged to a file or a network printer.
#include <QFile>
#include <gtest/gtest.h>

#include "loopback_doubles.h"
#include "tessel/printer.h"
#include "transport_support.h"

namespace {

// Server-formatted receipt text: line ends and non-ASCII must pass untouched.
const QString kReceipt = QString::fromUtf8("Receipt 000123\r\nÉtude — 2 × $12.50\n\tTotal  $25.00\n");

QByteArray readFile(const QString& name) {
  QFile file(name);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

class PrinterTest : public transport_test::TesselTest {};

TEST_F(PrinterTest, FilesReceiveTheTextUnchangedAndAppended) {
  const QString receipt = path("receipt.txt");
  {
    QFile earlier(receipt);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly)) << "cannot create " << receipt.toStdString();
    earlier.write("earlier\n");
  }
  setTessel("Printer", receipt);
  CPrinter printer;
  ASSERT_TRUE(printer.Open()) << "Open refused " << receipt.toStdString();
  ASSERT_TRUE(printer.Print(kReceipt)) << "Print failed";
  ASSERT_TRUE(printer.Print("second")) << "second Print failed";
  printer.Close();
  EXPECT_EQ(readFile(receipt), "earlier\n" + kReceipt.toUtf8() + "second") << "file not appended to unchanged";
  EXPECT_FALSE(printer.Print("after close")) << "Print succeeded on a closed printer";

  // A file that does not exist yet is created.
  setTessel("Printer", path("new.txt"));
  ASSERT_TRUE(printer.Open()) << "Open refused a new file";
  ASSERT_TRUE(printer.Print(kReceipt)) << "Print to a new file failed";
  printer.Close();
  EXPECT_EQ(readFile(path("new.txt")), kReceipt.toUtf8());
}

TEST_F(PrinterTest, NetworkPrintersReceiveExactlyTheBytes) {
  transport_test::ByteReceiver receiver;
  setTessel("Printer", QStringLiteral("tcp://127.0.0.1:%1").arg(receiver.port()));
  {
    CPrinter printer;
    ASSERT_TRUE(printer.Open()) << "Open refused a listening port";
    // Larger than the socket buffers, so the receiver must be reading while it is sent.
    const QString big = kReceipt.repeated(20000);
    ASSERT_TRUE(printer.Print(big)) << "Print to the network printer failed";
  }  // the destructor closes the connection
  ASSERT_TRUE(receiver.waitClosed(10000)) << "the printer connection was never closed";
  EXPECT_EQ(receiver.bytes(), kReceipt.repeated(20000).toUtf8().toStdString()) << "bytes received differ from the text";
}

TEST_F(PrinterTest, OpenFailsWhenThereIsNothingToPrintTo) {
  CPrinter printer;
  EXPECT_FALSE(printer.Open()) << "Open succeeded with no printer configured";
  EXPECT_FALSE(printer.Print(kReceipt)) << "Print succeeded without Open";

  const QString cases[] = {
      path("no-such-dir/receipt.txt"),                                             // cannot be created
      dir_.path(),                                                                 // a directory
      "/dev/no-such-printer",                                                      // a missing device
      QStringLiteral("tcp://127.0.0.1:%1").arg(transport_test::refusedPort()),  // refused
      "tcp://127.0.0.1",                                                           // no port
  };
  for (const QString& destination : cases) {
    setTessel("Printer", destination);
    EXPECT_FALSE(printer.Open()) << "Open succeeded for " << destination.toStdString();
    EXPECT_FALSE(printer.IsOpen()) << destination.toStdString();
  }
  EXPECT_FALSE(QFile::exists("/dev/no-such-printer")) << "a missing device became a file";
}

}  // namespace
