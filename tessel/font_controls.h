#pragma once
// Controls of a dialog whose font a program enlarges, makes bold or fits to their text.
#include <QStringList>

class QLabel;
class QLineEdit;
class QWidget;

// Shows the label's text on one line, in a font smaller than the dialog's when
// that one would not leave room for all of it.
void FitOnOneLine(QLabel* label);
// Widens the edit to the right as far as the widest of the texts needs to be
// seen whole in its font, without scrolling.
void WidenToShow(QLineEdit* edit, const QStringList& texts);

class CFontControl {
 public:
  // Takes over the control (the dialog keeps owning it).
  void Attach(QWidget* control) { m_pControl = control; }
  // Size n: the dialog font enlarged by n points.
  void ChangeSize(int size);

 protected:
  QWidget* m_pControl = nullptr;
};

class CFontStatic : public CFontControl {
 public:
  void SetBold(bool bold);
};

class CFontEdit : public CFontControl {};
