#include "stipendo_test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

#include "platform/dialog.h"
#include "stipendo/stipendo_dlg.h"

namespace stipendo_test {

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

QTreeWidget* resultList(const QWidget* dialog) {
  return dialog ? dialog->findChild<QTreeWidget*>(platform::Dialog::objectNameFor(CStipendoDlg::IDC_LIST)) : nullptr;
}

std::vector<std::string> shownLines(const QWidget* dialog) {
  std::vector<std::string> lines;
  if (const QTreeWidget* list = resultList(dialog))
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = list->topLevelItem(i);
      lines.push_back((item->text(0) + QLatin1Char('|') + item->text(1)).toStdString());
    }
  return lines;
}

}  // namespace stipendo_test
