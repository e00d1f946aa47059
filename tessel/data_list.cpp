#include "tessel/data_list.h"

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include "platform/dialog.h"

namespace {

constexpr int kValueColumn = 1;

// The tree view measures every row as one line; a value's row is made as tall as
// its text wrapped to the value column's width.
class WrappedValueDelegate : public QStyledItemDelegate {
 public:
  explicit WrappedValueDelegate(QTreeView* view) : QStyledItemDelegate(view), m_view(view) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (index.column() != kValueColumn) return QStyledItemDelegate::sizeHint(option, index);
    QStyleOptionViewItem sized = option;
    sized.rect = QRect(0, 0, m_view->header()->sectionSize(kValueColumn), 1);
    return QStyledItemDelegate::sizeHint(sized, index);
  }

 private:
  QTreeView* m_view;
};

}  // namespace

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
  // A long value (a title, a comment) is read whole, on as many lines as it takes.
  m_pList->setWordWrap(true);
  m_pList->setTextElideMode(Qt::ElideNone);
  m_pList->setItemDelegate(new WrappedValueDelegate(m_pList));
  // Row heights follow the value column's width, which settles only once the list shows.
  QObject::connect(m_pList->header(), &QHeaderView::sectionResized, m_pList,
                   [list = m_pList] { list->doItemsLayout(); });
  m_pList->setGeometry(rect);
  return true;
}

void CDataList::SetWindowTextW(const CDataLines& lines) {
  if (!m_pList) return;
  m_pList->clear();
  for (const CData& line : lines) {
    auto* item = new QTreeWidgetItem(m_pList, {line.m_strLabel, line.m_strValue});
    if (line.m_bMoney) item->setTextAlignment(kValueColumn, Qt::AlignRight | Qt::AlignVCenter);
  }
}
