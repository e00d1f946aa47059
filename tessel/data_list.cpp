#include "tessel/data_list.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "platform/dialog.h"

bool CDataList::Create(const QRect& rect, QWidget* parent, int id) {
  if (m_pList) return false;
  m_pList = new QTreeWidget(parent);
  m_pList->setObjectName(platform::Dialog::objectNameFor(id));
  m_pList->setColumnCount(2);
  m_pList->setHeaderHidden(true);
  m_pList->setRootIsDecorated(false);
  m_pList->setSelectionMode(QAbstractItemView::NoSelection);
  m_pList->setFocusPolicy(Qt::NoFocus);
  m_pList->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  m_pList->header()->setStretchLastSection(true);
  m_pList->setGeometry(rect);
  return true;
}

void CDataList::SetWindowTextW(const CDataLines& lines) {
  if (!m_pList) return;
  m_pList->clear();
  for (const CData& line : lines) {
    auto* item = new QTreeWidgetItem(m_pList, {line.m_strLabel, line.m_strValue});
    if (line.m_bMoney) item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  }
}
