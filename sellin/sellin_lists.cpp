#include "sellin/sellin_lists.h"

#include <QFontMetricsF>
#include <QtMath>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>

#include "platform/dialog.h"
#include "platform/message_box.h"
#include "shell/shell_app.h"
#include "wire/exchange.h"

platform::ControlSpec StaticControl(int id, const char* text, QRect rect) {
  return {id, platform::ControlKind::Label, QString::fromLatin1(text), rect};
}

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

int ColumnWidthFor(const QTreeWidget* list, const QStringList& texts) {
  // A cell keeps this margin on each side of its text.
  const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
  const QFontMetricsF metrics(list->font());
  qreal widest = 0;
  for (const QString& text : texts) widest = std::max(widest, metrics.horizontalAdvance(text));
  return qCeil(widest) + 2 * margin;
}

void AddListRow(QTreeWidget* list, const QStringList& texts) { list->addTopLevelItem(new QTreeWidgetItem(texts)); }

void SelectFirstRow(QTreeWidget* list) {
  if (list->topLevelItemCount() == 0) return;
  list->setCurrentItem(list->topLevelItem(0));
  list->topLevelItem(0)->setSelected(true);
}

int SelectedListRow(const QTreeWidget* list, int recordCount) {
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->isSelected()) return i < recordCount ? i : -1;
  return -1;
}

std::optional<CListReply> SendListQuery(platform::Dialog* dialog, const QString& query, int page) {
  CShellApp* app = CShellApp::Instance();
  if (!app) return std::nullopt;
  CSocketMessage& msg = app->m_socketMsg;
  msg.Reset();
  msg.AddQuery(wire::kPacketQuery, query);
  msg.SetNextPage(page, 0);
  if (!msg.SendQuery() || msg.IsError(0)) {
    platform::messageBox(dialog, msg.GetResponse(0), dialog->windowTitle(), platform::MessageIcon::Stop,
                         platform::MessageButtons::Ok);
    return std::nullopt;
  }
  return CListReply{msg.GetResponse(0), msg.GetCurrentPage(0), msg.GetPageCount(0)};
}
