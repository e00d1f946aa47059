#pragma once
// The report-style lists of Sellin's choosers: single selection, whole rows,
// rows in the order of the records behind them.
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <optional>
#include <utility>

namespace platform {
class Dialog;
}

#include "platform/dialog_template.h"

class QTreeWidget;

// A static control of a chooser's template.
platform::ControlSpec StaticControl(int id, const char* text, QRect rect);

struct CListColumn {
  QString title;
  int width;
};

void SetUpColumns(QTreeWidget* list, std::initializer_list<CListColumn> columns);
// The width a column needs to show the widest of the texts whole, in the list's font.
int ColumnWidthFor(const QTreeWidget* list, const QStringList& texts);
// Appends a row with one text per column.
void AddListRow(QTreeWidget* list, const QStringList& texts);
void SelectFirstRow(QTreeWidget* list);
// The first selected row if a record stands behind it (row < recordCount), or -1.
int SelectedListRow(const QTreeWidget* list, int recordCount);

struct CListReply {
  QString text;
  int page = -1;
  int pageCount = -1;
};

// Sends one query (packet type 3, the page asked for) on the application's
// message object. Without a message object, or when the exchange failed or
// the server refused (the clerk is then shown its text), nothing.
std::optional<CListReply> SendListQuery(platform::Dialog* dialog, const QString& query, int page = -1);
