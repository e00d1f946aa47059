#pragma once
// Detail lines: label and value pairs built from records and shown by
// CDataList or DisplayDetailDlg.
#include <QList>
#include <QString>

// One detail line.
struct CData {
  QString m_strLabel;
  QString m_strValue;
  bool m_bMoney = false;
};

using CDataLines = QList<CData>;

// Base of the line builders: a subclass adds its lines in Fill.
class CFillDataBase {
 public:
  virtual ~CFillDataBase() = default;

  void Reset() { m_lines.clear(); }
  const CDataLines& GetDataArr() const { return m_lines; }

 protected:
  void AddLine(const QString& label, const QString& value, bool money);
  void AddLine(const QString& label, int value);
  static QString GetYesNoValue(int flag);

 private:
  CDataLines m_lines;
};

// A money text as the detail lines show it: "0012.50" reads "$12.50",
// "-0003.05" reads "-$3.05". Texts that are not amounts are shown unchanged.
QString FormatMoney(const QString& amount);
