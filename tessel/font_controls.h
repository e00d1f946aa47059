#pragma once
// Controls of a dialog whose font a program enlarges or makes bold.
class QWidget;

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
