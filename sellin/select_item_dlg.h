#pragma once
// The item chooser: the books the server matched to a code, one server page
// at a time, with the details of the selected book. A single match is chosen
// at once.
#include <array>

#include "sellin/chooser_dlg.h"
#include "tessel/font_controls.h"
#include "tessel/records.h"

class CSelectItemDlg : public CChooserDlg<CSLDetailInfo> {
  Q_OBJECT

 public:
  enum {
    IDD = 133,
    IDC_DESC = 1014,
    IDC_LIST = 1023,
    IDC_BOOKKEY_LABEL = 1026,  // the six labels: 1026 to 1031
    IDC_BOOKKEY = 1032,
    IDC_IMPRINT = 1033,
    IDC_BINDING = 1034,
    IDC_EDITION = 1035,
    IDC_STOLEN = 1036,
    IDC_GUIDE = 1037,
    IDC_PAGE = 1038,
    IDC_PREV = 1039,
    IDC_NEXT = 1040,
  };

  // The item detail query, sent unchanged for every page.
  explicit CSelectItemDlg(const QString& query, QWidget* parent = nullptr);

 protected:
  bool onInitDialog() override;
  // Without a selected row that has a record behind it, OK does nothing.
  void onOk() override;
  QStringList RowTexts(const CSLDetailInfo& detail) const override;
  void ShowRecord(const CSLDetailInfo& detail) override;

 private:
  void SetUpList();
  // Asks for a page; on success shows it. On failure tells the clerk and
  // leaves the page shown, its rows and its records as they were.
  bool QueryPage(int page);
  void ShowPaging(int pageCount);

  void OnNext();
  void OnPrev();

  std::array<CFontStatic, 6> m_labels;
  QString m_strQuery;
  int m_nPage = -1;  // the page shown (from 1), -1 before the first reply
};
