#include "adoptra_test_support.h"

#include <QTreeWidget>

#include "adoptra/adoptra_dlg.h"
#include "tessel/detail_dlg.h"

namespace adoptra_test {

namespace {

const QTreeWidget* child(const QWidget* dialog, int id) {
  return dialog ? dialog->findChild<QTreeWidget*>(platform::Dialog::objectNameFor(id)) : nullptr;
}

}  // namespace

std::vector<std::string> rows(const QWidget* lookupDialog) {
  std::vector<std::string> out;
  if (const QTreeWidget* list = child(lookupDialog, CAdoptraDlg::IDC_RESULTS))
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* row = list->topLevelItem(i);
      out.push_back(QStringLiteral("%1|%2|%3|%4")
                        .arg(row->text(0), row->text(1), row->text(2), row->data(0, Qt::UserRole).toString())
                        .toStdString());
    }
  return out;
}

std::vector<std::string> detailLines(const QWidget* detailDialog) {
  std::vector<std::string> out;
  if (const QTreeWidget* list = child(detailDialog, CDetailDlg::IDC_LIST))
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      out.push_back((list->topLevelItem(i)->text(0) + '|' + list->topLevelItem(i)->text(1)).toStdString());
  return out;
}

}  // namespace adoptra_test
