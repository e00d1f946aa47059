#include "sellin/sellin_lists.h"

#include <QTreeWidget>

void SetUpColumns(QTreeWidget* list, std::initializer_list<CListColumn> columns) {
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setColumnCount(int(columns.size()));
  QStringList titles;
  for (const CListColumn& c : columns) titles << c.title;
  list->setHeaderLabels(titles);
  int i = 0;
  for (const CListColumn& c : columns) list->setColumnWidth(i++, c.width);
}

void AddListRow(QTreeWidget* list, const QStringList& texts) { list->addTopLevelItem(new QTreeWidgetItem(texts)); }

void SelectFirstRow(QTreeWidget* list) {
  if (list->topLevelItemCount() == 0) return;
  list->setCurrentItem(list->topLevelItem(0));
  list->topLevelItem(0)->setSelected(true);
}

int SelectedListRow(const QTreeWidget* list) {
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->isSelected()) return i;
  return -1;
}
