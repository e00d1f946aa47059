#pragma once
// The modal detail display: detail lines in a list and an OK button.
#include "platform/dialog.h"
#include "tessel/data_list.h"

class CDetailDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum { IDD = 140, IDC_LIST_AREA = 1000, IDC_LIST = 10001 };

  explicit CDetailDlg(const CDataLines& lines, QWidget* parent = nullptr,
                      const QString& title = QStringLiteral("Details"));

 protected:
  bool onInitDialog() override;

 private:
  CDataLines m_lines;
  CDataList m_list;
};
