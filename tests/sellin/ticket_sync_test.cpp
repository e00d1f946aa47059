// The handheld's ticket against what the server stored, through a balancer double: lost answers, a frozen
// server, a clerk who stops waiting, an End or delete in doubt; open tickets continued and ended; receipts
// printed again.
#include <QFile>

#include "platform/profile.h"
#include "sellin/select_ticket_dlg.h"
#include "tessel/save_wait_dlg.h"
#include "tessel/scan_dlg.h"
#include "tests/sellin/sellin_fixture.h"
#include "tests/support/forwarding_double.h"
#include "tests/support/transport_clock_double.h"

namespace {

using namespace sellin_test;
using Fault = testsupport::ForwardingDouble::Fault;

class TicketSyncTest : public TicketTest {
 protected:
  void SetUp() override {
    TicketTest::SetUp();
    setTessel("ReadTimeout", "1");
    setTessel("SaveTimeout", "8");
    m_app->m_socketMsg.SetServer(m_balancer.address());
    m_app->m_socketMsg.SetClock(m_clock);
  }
  // Taken by the next connection the handheld makes.
  void setTessel(const char* name, const char* seconds) {
    platform::Profile::writeString(CTesselConfig::SectionName(), name, seconds);
    m_app->m_socketMsg.Disconnect();
  }
  // The text of the box shown at index i, or nothing.
  static QString boxText(std::size_t i) {
    const auto& boxes = platform::MessageBoxScript::shown();
    return i < boxes.size() ? boxes[i].text : QString();
  }

  testsupport::ForwardingDouble m_balancer{m_server.port()};
  // Resends follow each other at once, and a read or save time-out passes when a test moves it.
  testsupport::TransportClockDouble m_clock;
};

// The waiting window, saving the change or reading again what settles the screen, then the action.
void whileWaiting(const char* shows, const std::function<void(QWidget*)>& action) {
  ModalDriver::whenModal([=](QWidget* waiting) {
    EXPECT_EQ(text(waiting, CSaveWaitDlg::IDC_SAVING), shows);
    action(waiting);
  });
}
void whileSaving(const std::function<void(QWidget*)>& action) {
  whileWaiting("Saving the change on the store server\u2026", action);
}
void whileReading(const std::function<void(QWidget*)>& action) {
  whileWaiting("Reading from the store server\u2026", action);
}

void stopWaiting(QWidget* window) { testsupport::clickControl(window, platform::IDCANCEL); }

// Each change applied, its answer then held (a frozen server), a 502 or none at all: the handheld sends it
// again, shows what the server stored and keeps the line the buyer worked on selected.
TEST_F(TicketSyncTest, AChangeWhoseAnswerWasLostLeavesTheStoredLinesOnScreen) {
  runTicket([&](CTicketDlg& dlg) {
    const std::string receipt = dlg.GetReceipt().toStdString();
    const std::string line = " 1|12.50|9780001000001";
    m_balancer.arm(Fault::Freeze, "sl_item");
    choosePurchaser();
    whileSaving([&](QWidget*) { m_balancer.release(); });
    enterCode(dlg, kCalculus9);
    EXPECT_EQ(screen(dlg), receipt + " $ 12.50" + line);

    m_balancer.arm(Fault::BadGateway, "sl_item");
    choosePurchaser();
    enterCode(dlg, kCalculus9);
    EXPECT_TRUE(m_balancer.played());
    EXPECT_EQ(screen(dlg), receipt + " $ 25.00" + line + line);

    m_balancer.arm(Fault::BadGateway, "sl_item");
    selectRow(dlg, 0);
    confirmQty(2);
    testsupport::clickControl(&dlg, CTicketDlg::IDC_EDIT);
    EXPECT_TRUE(m_balancer.played());
    EXPECT_EQ(screen(dlg), receipt + " $ 37.50 2|12.50|9780001000001" + line);
    ASSERT_NE(dlg.GetSelectedItem(), nullptr);
    EXPECT_EQ(dlg.GetSelectedItem()->m_nLine, 1) << "the selection left the edited line";

    m_balancer.arm(Fault::Close, "sl_item");
    expectBox("Are you sure you want to delete this item?", platform::IDYES);
    testsupport::clickControl(&dlg, CTicketDlg::IDC_DELETE_ITEM);
    EXPECT_TRUE(m_balancer.played());
    EXPECT_EQ(screen(dlg), receipt + " $ 12.50" + line);
    EXPECT_EQ(dlg.GetSelectedItem(), nullptr) << "another line was selected in place of the deleted one";
    EXPECT_EQ(storedLines(m_other, dlg.GetReceipt()), std::vector<std::string>{"2 1 00012.50"});
  });
  checkBoxes();
}

// The saving window shows while the first try is still unanswered, its read time-out a minute away.
// Stopping gives one box, and the lines are read again at once and shown, the buyer seeing that wait too;
// only when that read fails does the total read "$ ?", until the next command reads them.
TEST_F(TicketSyncTest, AClerkWhoStopsWaitingGetsOneBoxAndTheStoredLines) {
  setTessel("ReadTimeout", "60");
  runTicket([&](CTicketDlg& dlg) {
    const std::string receipt = dlg.GetReceipt().toStdString(), line = " 1|12.50|9780001000001";
    m_balancer.arm(Fault::Freeze, "sl_item");
    choosePurchaser();
    whileSaving(stopWaiting);
    whileReading([&](QWidget*) { m_balancer.release(); });
    platform::MessageBoxScript::arm(platform::IDOK);
    enterCode(dlg, kCalculus9);
    EXPECT_TRUE(boxText(0).startsWith("You stopped waiting for the store server after "));
    EXPECT_TRUE(
        boxText(0).endsWith(", so the change may or may not be saved.\nThe list shows the ticket's books as the store "
                            "server has them now."));
    EXPECT_EQ(screen(dlg), receipt + " $ 12.50" + line);
    EXPECT_NE(dlg.GetSelectedItem(), nullptr) << "the added line is not selected";

    setTessel("ReadTimeout", "1");
    m_balancer.arm(Fault::Freeze, "sl_item");
    choosePurchaser();
    whileSaving(stopWaiting);
    whileReading([&](QWidget*) { m_clock.advance(std::chrono::seconds(1)); });
    platform::MessageBoxScript::arm(platform::IDOK);
    enterCode(dlg, kCalculus9);
    EXPECT_TRUE(
        boxText(1).endsWith("\n" + CSocketMessage::NoAnswerText(1) +
                            "\nThe ticket's books are read again from the store server before your next step."));
    EXPECT_EQ(screen(dlg), receipt + " $ ?");

    m_balancer.release();
    testsupport::clickControl(&dlg, CTicketDlg::IDC_ENTER);
    EXPECT_EQ(screen(dlg), receipt + " $ 25.00" + line + line);
  });
  EXPECT_EQ(platform::MessageBoxScript::shown().size(), 2u) << "more than one box a stop";
}

// An End or a delete of the ticket whose answer never came: the server refuses every try (503), or applies it
// and holds the answer; the buyer stops waiting or waits it out. The ticket's state is then read back: while
// the ticket is open, or that cannot be read, it stays with a sentence saying so and no next student is asked
// for; once the server shows it ended or emptied, the next student's ID is asked for.
TEST_F(TicketSyncTest, AnEndOrDeleteInDoubtMovesOnOnlyOnceTheServerShowsIt) {
  m_session.m_nStudentIDRequired = 1;
  enum class Then { Stop, WaitOut, StopAsTheServerStops };
  const std::string stillOpen = " is still open on the store server: it has not ended, so do not pay the student "
                                "yet. Press End again to end it.";
  const std::string stillThere = " still has its books on the store server: they have not been deleted. Press "
                                 "Delete again to delete them.";
  const struct {
    const char* what;
    int button;
    Fault fault;
    Then then;
    std::string sentence;  // the box's last, after "Receipt <receipt>"; empty: no box, the next student is asked
  } cases[] = {
      {"End refused", CTicketDlg::IDC_END, Fault::Unavailable, Then::Stop, stillOpen},
      {"End refused till SaveTimeout", CTicketDlg::IDC_END, Fault::Unavailable, Then::WaitOut, stillOpen},
      {"End applied", CTicketDlg::IDC_END, Fault::Freeze, Then::Stop, ""},
      {"delete refused", CTicketDlg::IDC_DELETE_TICKET, Fault::Unavailable, Then::Stop, stillThere},
      {"delete applied", CTicketDlg::IDC_DELETE_TICKET, Fault::Freeze, Then::Stop, ""},
      {"End refused, state unread", CTicketDlg::IDC_END, Fault::Unavailable, Then::StopAsTheServerStops,
       " may still be open on the store server, so do not pay the student yet. Press End again to end it."},
  };
  int student = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // A refused End the buyer stops is tried again in real time, so the saving window comes before the stop.
    m_app->m_socketMsg.SetClock(c.then == Then::WaitOut ? m_clock : CTransportClock::Steady());
    const std::size_t boxesBefore = platform::MessageBoxScript::shown().size();
    CTicketDlg dlg(QStringLiteral("buyer"), &m_session, 1);
    const QString studentID = QStringLiteral("S7000%1").arg(++student);
    ModalDriver::whenModal([&](QWidget* prompt) {
      testsupport::typeInto(prompt, CScanDlg::IDC_CODE, studentID);
      testsupport::pressKey(prompt, Qt::Key_Return);
    });
    bool nextStudent = false;
    std::string receipt;
    ModalDriver::whenModal([&](QWidget*) {
      receipt = dlg.GetReceipt().toStdString();
      choosePurchaser();
      enterCode(dlg, kCalculus9);
      m_balancer.arm(c.fault, "sl_tran");
      if (c.button == CTicketDlg::IDC_DELETE_TICKET) platform::MessageBoxScript::arm(platform::IDYES);
      if (c.then != Then::WaitOut)
        whileSaving([&](QWidget* saving) {
          if (c.then == Then::StopAsTheServerStops) m_server.stop();
          stopWaiting(saving);
        });
      if (c.fault == Fault::Freeze) whileReading([&](QWidget*) { m_balancer.release(); });
      if (c.sentence.empty())
        ModalDriver::whenModal([&](QWidget* prompt) {
          nextStudent = prompt->windowTitle() == "Scan";
          prompt->close();  // which ends the ticket window
        });
      else platform::MessageBoxScript::arm(platform::IDOK);
      testsupport::clickControl(&dlg, c.button);
      if (c.sentence.empty()) return;
      EXPECT_EQ(screen(dlg), receipt + " $ 12.50 1|12.50|9780001000001");
      dlg.close();
    });
    dlg.runModal();
    m_balancer.release();
    const auto& boxes = platform::MessageBoxScript::shown();
    const std::size_t stops = boxes.size() - boxesBefore - (c.button == CTicketDlg::IDC_DELETE_TICKET ? 1 : 0);
    EXPECT_EQ(nextStudent, c.sentence.empty());
    EXPECT_EQ(stops, c.sentence.empty() ? 0u : 1u);
    if (c.sentence.empty()) continue;
    const std::string box = boxes.back().text.toStdString(), last = "Receipt " + receipt + c.sentence;
    // Unread, the state follows the wait's and the read's sentences; read, it is the box.
    EXPECT_TRUE(c.then == Then::StopAsTheServerStops ? box.ends_with("\n" + last) : box == last) << box;
  }
}

// A ticket left with books is offered again; the Tickets list continues or ends any open one.
TEST_F(TicketSyncTest, AnOpenTicketWithBooksIsOfferedAgainAndListedToContinueOrEnd) {
  std::string first, second;
  runTicket([&](CTicketDlg& dlg) {
    first = dlg.GetReceipt().toStdString();
    choosePurchaser();
    enterCode(dlg, kCalculus9);
  });
  const std::string offer = "You have an open ticket: receipt " + first + ", 1 line, $ 12.50.\nContinue it?";
  expectBox(offer, platform::IDYES);
  runTicket([&](CTicketDlg& dlg) { EXPECT_EQ(screen(dlg), first + " $ 12.50 1|12.50|9780001000001"); });

  expectBox(offer, platform::IDNO);
  runTicket([&](CTicketDlg& dlg) {
    second = dlg.GetReceipt().toStdString();
    EXPECT_EQ(screen(dlg), second + " $ 0.00") << "No did not open a new receipt";
    choosePurchaser();
    enterCode(dlg, kCalculus9);
    const auto chooseInList = [&](int row, int button) {
      ModalDriver::whenModal([=](QWidget* list) {
        clickRow(list, CSelectTicketDlg::IDC_TICKETS, row);
        testsupport::clickControl(list, button);
      });
      testsupport::clickControl(&dlg, CTicketDlg::IDC_TICKETS);
    };
    ModalDriver::whenModal([&](QWidget* list) {
      EXPECT_EQ(testsupport::listRows(list, CSelectTicketDlg::IDC_TICKETS, 4),
                (std::vector<std::string>{second + "||1|$ 12.50", first + "||1|$ 12.50"}));
      list->close();
    });
    testsupport::clickControl(&dlg, CTicketDlg::IDC_TICKETS);
    chooseInList(1, platform::IDOK);
    EXPECT_EQ(screen(dlg), first + " $ 12.50 1|12.50|9780001000001") << "Continue";
    chooseInList(0, CSelectTicketDlg::IDC_END_TICKET);
    EXPECT_EQ(screen(dlg), first + " $ 12.50 1|12.50|9780001000001") << "another ticket's End changed the screen";
    chooseInList(0, CSelectTicketDlg::IDC_END_TICKET);
    EXPECT_TRUE(dlg.GetReceipt().toStdString() != first && screen(dlg) == dlg.GetReceipt().toStdString() + " $ 0.00")
        << "End of the ticket on screen did not start a new one";
    expectBox("You have no open tickets with books at this store.");
    testsupport::clickControl(&dlg, CTicketDlg::IDC_TICKETS);
  });
  checkBoxes();
}

// A receipt is printed again as a copy by its number, typed without its leading zeros; another store's is
// refused, and after that box the buyer types books where books go.
TEST_F(TicketSyncTest, AReceiptOfThisStoreIsPrintedAgainAsACopy) {
  const QString printed = profileDirectory() + QStringLiteral("/printer.txt");
  CTesselConfig::Override({.printer = printed});
  m_other.SetCredentials(QStringLiteral("manager"), QStringLiteral("manager1"));
  const QString otherReceipt = otherOpensTicket("manager", 2);
  ASSERT_FALSE(otherReceipt.isEmpty()) << "no ticket at store 2";
  expectBox("Receipt " + otherReceipt.toStdString() + " is not a receipt of this store.");
  QString receipt;
  runTicket([&](CTicketDlg& dlg) {
    receipt = dlg.GetReceipt();
    choosePurchaser();
    enterCode(dlg, kCalculus9);
    testsupport::clickControl(&dlg, CTicketDlg::IDC_END);
    for (const QString& typed : {QString::number(receipt.toLongLong()), otherReceipt})
      ModalDriver::whenModal([=](QWidget* prompt) {
        testsupport::typeInto(prompt, CScanDlg::IDC_CODE, typed);
        testsupport::pressKey(prompt, Qt::Key_Return);
      });
    testsupport::clickControl(&dlg, CTicketDlg::IDC_REPRINT);
    testsupport::clickControl(&dlg, CTicketDlg::IDC_REPRINT);
    EXPECT_EQ(dlg.focusWidget(), dlg.control(CTicketDlg::IDC_XREF)) << "a typed book would go elsewhere";
  });
  checkBoxes();
  QFile file(printed);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "nothing was printed";
  const QString text = QString::fromUtf8(file.readAll());
  EXPECT_TRUE(text.contains(QLatin1String("*** COPY ***")) && text.contains(receipt) && text.contains("12.50"))
      << text.toStdString();
  EXPECT_EQ(text.count(QLatin1String("COPY")), 1) << "the refused receipt was printed";
}

}  // namespace
