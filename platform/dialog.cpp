#include "platform/dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QThread>
#include <QTreeWidget>
#include <algorithm>
#include <optional>

namespace platform {

namespace {

// Marks list and combo boxes made with the Sorted style, for addListEntry.
constexpr char kSortedProperty[] = "platformSorted";

std::optional<double>& scaleSetting() {
  static std::optional<double> scale;
  return scale;
}

int messageEventType() {
  static const int type = QEvent::registerEventType();
  return type;
}

class MessageEvent : public QEvent {
 public:
  MessageEvent(int message, QVariant wParam, QVariant lParam)
      : QEvent(static_cast<QEvent::Type>(messageEventType())),
        message(message),
        wParam(std::move(wParam)),
        lParam(std::move(lParam)) {}

  const int message;
  const QVariant wParam;
  const QVariant lParam;
};

Qt::Alignment horizontalAlignment(unsigned style) {
  if (style & AlignCenter) return Qt::AlignHCenter;
  if (style & AlignRight) return Qt::AlignRight;
  return Qt::AlignLeft;
}

// Row before which text goes so that the entries stay in order; after equal ones.
template <typename TextAt>
int sortedRow(int count, const QString& text, TextAt textAt) {
  int low = 0;
  int high = count;
  while (low < high) {
    const int mid = (low + high) / 2;
    if (QString::compare(textAt(mid), text, Qt::CaseInsensitive) <= 0) low = mid + 1;
    else high = mid;
  }
  return low;
}

}  // namespace

QFont templateFont(const QString& family, int pointSize) {
  static const QStringList classicDialogFonts = {QStringLiteral("MS Shell Dlg"), QStringLiteral("MS Shell Dlg 2"),
                                                 QStringLiteral("MS Sans Serif"), QStringLiteral("Tahoma"),
                                                 QStringLiteral("System")};
  QFont font;
  if (family.isEmpty() || classicDialogFonts.contains(family, Qt::CaseInsensitive)) {
    font.setFamily(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
  } else {
    font.setFamily(family);
  }
  font.setPointSize(pointSize > 0 ? pointSize : 8);
  return font;
}

double uiScale() {
  std::optional<double>& scale = scaleSetting();
  if (!scale) {
    bool ok = false;
    const double fromEnvironment = qEnvironmentVariable("STORE_UI_SCALE").toDouble(&ok);
    scale = ok && fromEnvironment > 0 ? fromEnvironment : 1.0;
  }
  return *scale;
}

void setUiScale(double scale) {
  if (scale > 0) scaleSetting() = scale;
}

Dialog::Dialog(const DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent), template_(dialogTemplate), scale_(uiScale()) {
  const QFont font = templateFont(template_.fontFamily, template_.fontPointSize);
  const QFontMetrics metrics(font);
  static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  charWidth_ = std::max(1, qRound(metrics.horizontalAdvance(alphabet) / 52.0));
  charHeight_ = std::max(1, metrics.height());

  QFont shown = font;
  shown.setPointSizeF(font.pointSizeF() * scale_);
  setFont(shown);
  setWindowTitle(template_.title);
  setFixedSize(toPixels(QRect(QPoint(0, 0), template_.size)).size());
  createControls();
}

Dialog::~Dialog() = default;

QString Dialog::objectNameFor(int id) { return QStringLiteral("ctl%1").arg(id); }

QRect Dialog::toPixels(const QRect& du) const {
  const double x = charWidth_ * scale_ / 4.0;
  const double y = charHeight_ * scale_ / 8.0;
  return QRect(qRound(du.x() * x), qRound(du.y() * y), qRound(du.width() * x), qRound(du.height() * y));
}

void Dialog::createControls() {
  for (const ControlSpec& spec : template_.controls) {
    QWidget* widget = createControl(spec);
    widget->setObjectName(objectNameFor(spec.id));
    QRect rect = toPixels(spec.rect);
    if (spec.kind == ControlKind::ComboBox) rect.setHeight(widget->sizeHint().height());
    widget->setGeometry(rect);
    if (spec.style & Hidden) widget->setVisible(false);
    if (spec.style & Disabled) widget->setEnabled(false);
    controls_.emplace(spec.id, widget);  // statics sharing an ID: the first one answers
  }
}

QWidget* Dialog::createControl(const ControlSpec& spec) {
  const unsigned style = spec.style;
  const bool border = style & Border;
  switch (spec.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
      auto* button = new QPushButton(spec.text, this);
      // Qt would otherwise make the first button the default when none is,
      // and Return would click it instead of being the dialog's OK command.
      button->setAutoDefault(false);
      if (spec.kind == ControlKind::DefaultPushButton) button->setDefault(true);
      // Looked up at click time so that a subclass's override runs.
      if (spec.id == IDOK) connect(button, &QPushButton::clicked, this, [this] { onOk(); });
      if (spec.id == IDCANCEL) connect(button, &QPushButton::clicked, this, [this] { onCancel(); });
      return button;
    }
    case ControlKind::Label: {
      auto* label = new QLabel(spec.text, this);
      label->setTextFormat(Qt::PlainText);
      label->setWordWrap(true);
      label->setAlignment(horizontalAlignment(style) | Qt::AlignTop);
      if (border) label->setFrameShape(QFrame::Box);
      return label;
    }
    case ControlKind::Edit: {
      if (style & MultiLine) {
        auto* edit = new QPlainTextEdit(spec.text, this);
        edit->setReadOnly(style & ReadOnly);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setVerticalScrollBarPolicy((style & VerticalScroll) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        if (!border) edit->setFrameShape(QFrame::NoFrame);
        return edit;
      }
      auto* edit = new QLineEdit(spec.text, this);
      edit->setReadOnly(style & ReadOnly);
      edit->setAlignment(horizontalAlignment(style) | Qt::AlignVCenter);
      if (style & Password) edit->setEchoMode(QLineEdit::Password);
      edit->setFrame(border);
      return edit;
    }
    case ControlKind::ListBox: {
      auto* list = new QListWidget(this);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      list->setProperty(kSortedProperty, bool(style & Sorted));
      if (!border) list->setFrameShape(QFrame::NoFrame);
      return list;
    }
    case ControlKind::CheckBox: return scaledIndicator(new QCheckBox(spec.text, this), QStringLiteral("QCheckBox"));
    case ControlKind::RadioButton:
      return scaledIndicator(new QRadioButton(spec.text, this), QStringLiteral("QRadioButton"));
    case ControlKind::ComboBox: {
      auto* combo = new QComboBox(this);
      combo->setEditable(style & Editable);
      combo->setInsertPolicy(QComboBox::NoInsert);
      combo->setProperty(kSortedProperty, bool(style & Sorted));
      if (combo->isEditable()) combo->setEditText(spec.text);
      return combo;
    }
    case ControlKind::ListView: {
      auto* view = new QTreeWidget(this);
      view->setRootIsDecorated(false);
      view->setItemsExpandable(false);
      view->setUniformRowHeights(true);
      view->setSelectionMode(QAbstractItemView::SingleSelection);
      view->setSelectionBehavior(QAbstractItemView::SelectRows);
      view->setAllColumnsShowFocus(true);
      view->setHeaderHidden(style & NoHeader);
      if (!border) view->setFrameShape(QFrame::NoFrame);
      return view;
    }
  }
  return new QWidget(this);
}

// The style draws a tick box at a fixed pixel size; it grows with the text here.
QWidget* Dialog::scaledIndicator(QAbstractButton* button, const QString& className) const {
  if (scale_ == 1.0) return button;
  const int side = qRound(style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, button) * scale_);
  button->setStyleSheet(QStringLiteral("%1::indicator { width: %2px; height: %2px; }").arg(className).arg(side));
  return button;
}

QWidget* Dialog::control(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

QPushButton* Dialog::button(int id) const { return qobject_cast<QPushButton*>(control(id)); }
QLabel* Dialog::label(int id) const { return qobject_cast<QLabel*>(control(id)); }
QLineEdit* Dialog::edit(int id) const { return qobject_cast<QLineEdit*>(control(id)); }
QPlainTextEdit* Dialog::multiLineEdit(int id) const { return qobject_cast<QPlainTextEdit*>(control(id)); }
QListWidget* Dialog::listBox(int id) const { return qobject_cast<QListWidget*>(control(id)); }
QCheckBox* Dialog::checkBox(int id) const { return qobject_cast<QCheckBox*>(control(id)); }
QRadioButton* Dialog::radioButton(int id) const { return qobject_cast<QRadioButton*>(control(id)); }
QComboBox* Dialog::comboBox(int id) const { return qobject_cast<QComboBox*>(control(id)); }
QTreeWidget* Dialog::listView(int id) const { return qobject_cast<QTreeWidget*>(control(id)); }

QString Dialog::controlText(int id) const {
  QWidget* widget = control(id);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) return edit->toPlainText();
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText();
  return {};
}

void Dialog::setControlText(int id, const QString& text) {
  QWidget* widget = control(id);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(text);
  } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
    edit->setPlainText(text);
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    if (combo->isEditable()) combo->setEditText(text);
    else combo->setCurrentIndex(combo->findText(text, Qt::MatchFixedString));
  }
}

void Dialog::setControlVisible(int id, bool visible) {
  if (QWidget* widget = control(id)) widget->setVisible(visible);
}

void Dialog::focusControl(int id) {
  if (QWidget* widget = control(id)) widget->setFocus(Qt::OtherFocusReason);
}

void Dialog::paintNow() {
  if (isVisible()) repaint();
}

QRect Dialog::controlScreenRect(int id) const {
  QWidget* widget = control(id);
  if (!widget) return {};
  return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

QRect Dialog::screenToClient(const QRect& screenRect) const {
  return screenRect.translated(-mapToGlobal(QPoint(0, 0)));
}

int Dialog::runModal() {
  if (running_) {
    qWarning("platform::Dialog::runModal: dialog %d is already running", template_.id);
    return -1;
  }
  running_ = true;
  endRequested_ = false;
  endCode_ = 0;
  destroyed_ = false;

  placeOverOwner();
  onInitDialog();
  const int result = endRequested_ ? endCode_ : exec();

  if (!destroyed_) {
    destroyed_ = true;
    onDestroy();
  }
  running_ = false;
  return result;
}

// Placed before onInitDialog: a box or dialog opened from there is centred over
// this one, which would otherwise still stand at the screen's corner.
void Dialog::placeOverOwner() {
  QWidget* owner = parentWidget() ? parentWidget()->window() : QApplication::activeWindow();
  adjustPosition(owner);
}

void Dialog::endDialog(int result) {
  endRequested_ = true;
  endCode_ = result;
  // Outside exec() (from onInitDialog, or with no run at all) there is no loop to leave.
  QDialog::done(result);
}

bool Dialog::onInitDialog() { return true; }
void Dialog::onOk() { endDialog(IDOK); }
void Dialog::onCancel() { endDialog(IDCANCEL); }
void Dialog::onDestroy() {}

void Dialog::onMessage(int message, MessageHandler handler) { handlers_[message] = std::move(handler); }

void Dialog::postMessage(int message, const QVariant& wParam, const QVariant& lParam) {
  QCoreApplication::postEvent(this, new MessageEvent(message, wParam, lParam));
}

qintptr Dialog::sendMessage(int message, const QVariant& wParam, const QVariant& lParam) {
  if (QThread::currentThread() == thread()) return dispatch(message, wParam, lParam);
  qintptr result = 0;
  QMetaObject::invokeMethod(
      this, [&] { return dispatch(message, wParam, lParam); }, Qt::BlockingQueuedConnection, &result);
  return result;
}

qintptr Dialog::dispatch(int message, const QVariant& wParam, const QVariant& lParam) {
  const auto found = handlers_.find(message);
  if (found == handlers_.end() || !found->second) return 0;
  // A copy: the handler may register handlers itself.
  const MessageHandler handler = found->second;
  return handler(wParam, lParam);
}

bool Dialog::event(QEvent* event) {
  if (event->type() == messageEventType()) {
    const auto* message = static_cast<MessageEvent*>(event);
    dispatch(message->message, message->wParam, message->lParam);
    return true;
  }
  return QDialog::event(event);
}

void Dialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const bool plain = event->modifiers() == Qt::NoModifier ||
                     (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
  if (enter && plain) {
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if (focused && focused->isVisible() && focused->isEnabled()) {
      focused->click();
      return;
    }
    const QList<QPushButton*> buttons = findChildren<QPushButton*>();
    const bool hasDefault = std::any_of(buttons.begin(), buttons.end(), [](const QPushButton* button) {
      return button->isDefault() && button->isVisible();
    });
    // Return on a focused button clicks it, else the default button; without
    // one, Return is the dialog's OK command.
    if (!hasDefault) {
      onOk();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

void Dialog::closeEvent(QCloseEvent* event) {
  if (!isVisible()) {
    event->accept();
    return;
  }
  QPointer<Dialog> self(this);
  if (template_.captionOk) onOk();
  else onCancel();
  // The handler may refuse to end the dialog (a check failed); then it stays.
  if (self && isVisible()) event->ignore();
  else event->accept();
}

void Dialog::accept() { onOk(); }
void Dialog::reject() { onCancel(); }

int addListEntry(QListWidget* list, const QString& text, qintptr data) {
  if (!list) return -1;
  int row = list->count();
  if (list->property(kSortedProperty).toBool())
    row = sortedRow(list->count(), text, [list](int i) { return list->item(i)->text(); });
  auto* item = new QListWidgetItem(text);
  item->setData(Qt::UserRole, QVariant::fromValue<qintptr>(data));
  list->insertItem(row, item);
  return row;
}

int addListEntry(QComboBox* combo, const QString& text, qintptr data) {
  if (!combo) return -1;
  int row = combo->count();
  if (combo->property(kSortedProperty).toBool())
    row = sortedRow(combo->count(), text, [combo](int i) { return combo->itemText(i); });
  combo->insertItem(row, text, QVariant::fromValue<qintptr>(data));
  return row;
}

qintptr listEntryData(const QListWidget* list, int row) {
  const QListWidgetItem* item = list && row >= 0 ? list->item(row) : nullptr;
  return item ? item->data(Qt::UserRole).value<qintptr>() : -1;
}

qintptr listEntryData(const QComboBox* combo, int row) {
  if (!combo || row < 0 || row >= combo->count()) return -1;
  return combo->itemData(row).value<qintptr>();
}

}  // namespace platform
