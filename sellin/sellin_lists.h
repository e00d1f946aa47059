#pragma once
// The report-style lists of Sellin's choosers: single selection, whole rows,
// rows in the order of the records behind them.
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <utility>

class QTreeWidget;

struct CListColumn {
  QString title;
  int width;
};

void SetUpColumns(QTreeWidget* list, std::initializer_list<CListColumn> columns);
// Appends a row with one text per column.
void AddListRow(QTreeWidget* list, const QStringList& texts);
void SelectFirstRow(QTreeWidget* list);
// The first selected row, or -1.
int SelectedListRow(const QTreeWidget* list);
