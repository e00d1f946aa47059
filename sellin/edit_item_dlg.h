#pragma once
// The buyer confirms a ticket line's quantity and unit price: the book, the
// purchaser's terms, the condition note and the stolen marker, a quantity box
// that takes only digits and the minus key, and the price choices.
#include <QObject>
#include <array>

#include "platform/dialog.h"
#include "tessel/font_controls.h"

class CTicketItem;

// "0012.50" reads "12.50", "00000" "0", "0000.75" "0.75"; "15" stays.
QString StripLeadingZeros(const QString& text);

class CEditItemDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum {
    IDD = 131,
    IDC_STATUS = 1002,
    IDC_LOOKUP = 1007,
    IDC_DETAILS = 1008,
    IDC_QTY = 1009,
    IDC_NEED_LABEL = 1010,
    IDC_STATUS_LABEL = 1011,
    IDC_PRICE_LABEL = 1012,
    IDC_ISBN = 1013,
    IDC_DESC = 1014,
    IDC_PURCHASER = 1015,
    IDC_PRICE = 1016,
    IDC_STOLEN = 1017,
    IDC_MORE = 1018,
    IDC_NEED = 1019,
    IDC_BUY_PRICE = 1020,
    IDC_CONDITION = 1021,
  };

  // The line stays the caller's; only OK changes its quantity and price.
  CEditItemDlg(CTicketItem* pItem, bool bConditionCheck, QWidget* parent = nullptr);

  // A key pressed while the quantity box may have the focus; true when the
  // key is used up here: digits reach the box, minus flips the sign, every
  // other key does nothing there.
  bool FilterQtyKey(int key);

 protected:
  bool onInitDialog() override;
  void onOk() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillPriceCombo();
  void FillFields();
  void SetFieldText(int id, const QString& text, bool strip);
  void OnLookup();
  void OnDetails();
  void OnMore();

  std::array<CFontStatic, 8> m_statics;
  CFontEdit m_qtyEdit;
  CFontStatic m_stolenLabel;
  CTicketItem* m_pItem;
  bool m_bConditionCheck;
};
