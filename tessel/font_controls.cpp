#include "tessel/font_controls.h"

#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

void FitOnOneLine(QLabel* label) {
  label->setWordWrap(false);
  QFont font = label->parentWidget()->font();
  font.setBold(label->font().bold());
  const int room = label->contentsRect().width();
  const auto needed = [&font, label] { return QFontMetrics(font).horizontalAdvance(label->text()); };
  if (needed() > room) font.setPointSizeF(font.pointSizeF() * room / needed());
  // Metrics do not shrink exactly in proportion to the point size.
  while (needed() > room && font.pointSizeF() > 1) font.setPointSizeF(font.pointSizeF() - 0.5);
  label->setFont(font);
}

void WidenToShow(QLineEdit* edit, const QStringList& texts) {
  QStyleOptionFrame frame;
  frame.initFrom(edit);
  frame.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit) : 0;
  // QLineEdit keeps 2 pixels each side of the text and scrolls unless one more is free.
  const int room = edit->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit).width() -
                   edit->textMargins().left() - edit->textMargins().right() - 2 * 2 - 1;
  int widest = 0;
  for (const QString& text : texts) widest = std::max(widest, edit->fontMetrics().horizontalAdvance(text));
  if (widest > room) edit->resize(edit->width() + widest - room, edit->height());
}

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
