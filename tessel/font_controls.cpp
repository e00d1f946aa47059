#include "tessel/font_controls.h"

#include <QWidget>

void CFontControl::ChangeSize(int size) {
  if (!m_pControl) return;
  QFont font = m_pControl->parentWidget() ? m_pControl->parentWidget()->font() : m_pControl->font();
  font.setPointSizeF(font.pointSizeF() + size);
  font.setBold(m_pControl->font().bold());
  m_pControl->setFont(font);
}

void CFontStatic::SetBold(bool bold) {
  if (!m_pControl) return;
  QFont font = m_pControl->font();
  font.setBold(bold);
  m_pControl->setFont(font);
}
