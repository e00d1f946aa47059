#pragma once
// The shape of Sellin's choosers: records, from one reply of the store server
// or from the caller, listed a row each in a report list; the selected record
// is shown beside the list and may be chosen. A subclass names the row texts
// and what it shows of the selected record.
#include <QTreeWidget>
#include <optional>

#include "platform/dialog.h"
#include "sellin/sellin_lists.h"
#include "tessel/data_array.h"

template <class TRecord>
class CChooserDlg : public platform::Dialog {
 public:
  // The record chosen; read it only after the dialog ended with one chosen.
  TRecord GetSelected() const { return m_selected; }

 protected:
  CChooserDlg(const platform::DialogTemplate& dialogTemplate, int listId, QWidget* parent)
      : platform::Dialog(dialogTemplate, parent), m_listCtrl(listView(listId)) {
    connect(m_listCtrl, &QTreeWidget::itemSelectionChanged, this, [this] { ShowSelected(); });
  }

  // The texts of a record's row, one per column.
  virtual QStringList RowTexts(const TRecord& record) const = 0;
  // Shows the selected record beside the list; nothing by default.
  virtual void ShowRecord(const TRecord& /*record*/) {}

  // Asks for one page of records (-1: the first, or not paged) and lists them.
  // On failure the clerk has been told, and the records and rows stay.
  std::optional<CListReply> QueryRecords(const QString& query, int page = -1) {
    std::optional<CListReply> reply = SendListQuery(this, query, page);
    if (!reply) return std::nullopt;
    m_records.RemoveAll();
    m_records.FillFromResponse(reply->text);
    FillList();
    return reply;
  }

  // A row for each record, the first selected and shown.
  void FillList() {
    m_listCtrl->clear();
    for (int i = 0; i < m_records.GetSize(); ++i) AddListRow(m_listCtrl, RowTexts(m_records.GetAt(i)));
    SelectFirstRow(m_listCtrl);
    ShowSelected();
  }

  // The selected row when a record stands behind it, or -1.
  int SelectedRow() const { return SelectedListRow(m_listCtrl, m_records.GetSize()); }

  // Ends the dialog with result, the selected record chosen; without one
  // selected the chooser stays open.
  void Choose(int result) {
    const int row = SelectedRow();
    if (row < 0) return;
    m_selected = m_records.GetAt(row);
    endDialog(result);
  }

  CDataArray<TRecord> m_records;
  QTreeWidget* const m_listCtrl;

 private:
  void ShowSelected() {
    const int row = SelectedRow();
    if (row >= 0) ShowRecord(m_records.GetAt(row));
  }

  TRecord m_selected;
};
