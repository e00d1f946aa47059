#pragma once
// A list of detail lines in two columns, label and value, as a child window.
#include <QRect>

#include "tessel/fill_data.h"

class QTreeWidget;
class QWidget;

class CDataList {
 public:
  CDataList() = default;
  CDataList(const CDataList&) = delete;
  CDataList& operator=(const CDataList&) = delete;

  // Creates the list at rect (client pixels of parent) with the child ID; the
  // parent owns the widget. False when already created.
  bool Create(const QRect& rect, QWidget* parent, int id);
  // Shows these lines; keeps no reference to the array.
  void SetWindowTextW(const CDataLines& lines);

  QTreeWidget* GetWidget() const { return m_pList; }

 private:
  QTreeWidget* m_pList = nullptr;
};
