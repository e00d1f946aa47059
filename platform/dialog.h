#pragma once
// A dialog built from a DialogTemplate: every control is created at
// construction, reachable by its numeric ID and named "ctl<ID>" (objectName),
// so tests and program code find it without knowing the widget tree.
#include <QDialog>
#include <QFont>
#include <QVariant>
#include <functional>
#include <map>

#include "platform/dialog_template.h"
#include "platform/window_messages.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace platform {

class Dialog : public QDialog {
  Q_OBJECT

 public:
  using MessageHandler = std::function<qintptr(const QVariant& wParam, const QVariant& lParam)>;

  // A push button whose ID is IDOK runs onOk when clicked, one with IDCANCEL
  // onCancel; other buttons do what the program connects to them.
  explicit Dialog(const DialogTemplate& dialogTemplate, QWidget* parent = nullptr);
  ~Dialog() override;

  // Runs the dialog modally, centred over its parent's window (without a parent,
  // the active window): onInitDialog once, then the event loop until
  // endDialog. Returns the code given to endDialog (IDOK, IDCANCEL, ...).
  // endDialog called from onInitDialog ends the run before the dialog shows.
  // Returns -1 when the dialog is already running. May be called again later.
  int runModal();
  // Ends the modal run with the code; onDestroy runs before runModal returns.
  void endDialog(int result);

  // The control with that ID, or nullptr when the template has none.
  QWidget* control(int id) const;
  // Typed access; nullptr when the ID is unknown or of another kind.
  QPushButton* button(int id) const;
  QLabel* label(int id) const;
  QLineEdit* edit(int id) const;                // single-line Edit
  QPlainTextEdit* multiLineEdit(int id) const;  // MultiLine Edit
  QListWidget* listBox(int id) const;
  QCheckBox* checkBox(int id) const;
  QRadioButton* radioButton(int id) const;
  QComboBox* comboBox(int id) const;
  QTreeWidget* listView(int id) const;

  // Text of a button, label, edit (either kind), check box, radio button or
  // combo box; empty for others. Setting a drop-down list's text selects the
  // entry with that text. Line breaks may be given as "\r\n".
  QString controlText(int id) const;
  void setControlText(int id, const QString& text);
  void setControlVisible(int id, bool visible);
  // Gives the keyboard focus to the control (kept until the dialog shows).
  void focusControl(int id);
  // Paints the dialog's changes now. An exchange blocks the event loop that
  // would paint them, so a dialog that clears what it shows before one calls
  // this first: the clerk must not read the old result while the reply is due.
  void paintNow();
  // The control's rectangle in screen (global) pixels; empty for an unknown ID.
  QRect controlScreenRect(int id) const;
  // A screen rectangle in this dialog's client coordinates.
  QRect screenToClient(const QRect& screenRect) const;
  // Dialog units to pixels, from this dialog's template font and the scale
  // factor in force when the dialog was built.
  QRect toPixels(const QRect& dialogUnits) const;

  // Posts a message: its handler runs later on the UI thread, after the current
  // event. Safe to call from any thread.
  void postMessage(int message, const QVariant& wParam = {}, const QVariant& lParam = {});
  // Sends a message: its handler runs now (from another thread: on the UI thread,
  // waiting for it). Returns the handler's result, 0 when none is registered.
  // From another thread, the UI thread must not be waiting for that thread.
  qintptr sendMessage(int message, const QVariant& wParam = {}, const QVariant& lParam = {});

  static QString objectNameFor(int id);

 protected:
  // Called once by runModal before the dialog is shown. Default: true.
  virtual bool onInitDialog();
  // Return when the dialog has no default button, a click on the IDOK button,
  // and a close with captionOk. Default: endDialog(IDOK).
  virtual void onOk();
  // Escape, a click on the IDCANCEL button, and a close without captionOk.
  // Default: endDialog(IDCANCEL).
  virtual void onCancel();
  // Called once when the modal run ends, while the controls still exist.
  virtual void onDestroy();

  // Registers the handler of a message (the dialog's message map).
  void onMessage(int message, MessageHandler handler);

  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void accept() override;
  void reject() override;

 private:
  void placeOverOwner();
  void createControls();
  QWidget* createControl(const ControlSpec& spec);
  QWidget* scaledIndicator(QAbstractButton* button, const QString& className) const;
  qintptr dispatch(int message, const QVariant& wParam, const QVariant& lParam);

  DialogTemplate template_;
  double scale_ = 1.0;
  int charWidth_ = 1;   // average character width of the template font, pixels
  int charHeight_ = 1;  // character height of the template font, pixels
  std::map<int, QWidget*> controls_;
  std::map<int, MessageHandler> handlers_;
  bool running_ = false;
  bool endRequested_ = false;
  int endCode_ = 0;
  bool destroyed_ = false;
};

// Adds an entry with its item data (kept in Qt::UserRole) to a list box or
// combo box and returns the row it landed at: the end, or its alphabetical
// place when the control is Sorted. Equal texts keep the order they came in.
int addListEntry(QListWidget* list, const QString& text, qintptr data);
int addListEntry(QComboBox* combo, const QString& text, qintptr data);
// The item data of an entry; -1 when the row does not exist.
qintptr listEntryData(const QListWidget* list, int row);
qintptr listEntryData(const QComboBox* combo, int row);

// The font a template's family and point size stand for on this machine.
QFont templateFont(const QString& family, int pointSize);

// Scale factor applied to dialog units on top of the font metrics; desktop
// screens want 2 or more to look like a handheld's screen. Default 1, or the
// STORE_UI_SCALE environment variable when set. A dialog takes the factor in
// force when it is built, and shows its text that many times larger too.
double uiScale();
void setUiScale(double scale);

}  // namespace platform
