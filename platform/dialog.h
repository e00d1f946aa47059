#pragma once
// A dialog built from a DialogTemplate: every control is created at
// construction, reachable by its numeric ID and named "ctl<ID>" (objectName),
// so tests and program code find it without knowing the widget tree.
#include <QDialog>
#include <QVariant>
#include <functional>
#include <map>

#include "platform/dialog_template.h"
#include "platform/window_messages.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace platform {

class Dialog : public QDialog {
  Q_OBJECT

 public:
  using MessageHandler = std::function<qintptr(const QVariant& wParam, const QVariant& lParam)>;

  explicit Dialog(const DialogTemplate& dialogTemplate, QWidget* parent = nullptr);
  ~Dialog() override;

  // Runs the dialog modally: onInitDialog once, then the event loop until
  // endDialog. Returns the code given to endDialog (IDOK, IDCANCEL, ...).
  int runModal();
  // Ends the modal run with the code; onDestroy runs before runModal returns.
  void endDialog(int result);

  const DialogTemplate& dialogTemplate() const { return template_; }

  // The control with that ID, or nullptr when the template has none.
  QWidget* control(int id) const;
  // Typed access; nullptr when the ID is unknown or of another kind.
  QPushButton* button(int id) const;
  QLabel* label(int id) const;
  QLineEdit* edit(int id) const;
  QPlainTextEdit* multiLineEdit(int id) const;
  QListWidget* listBox(int id) const;
  QCheckBox* checkBox(int id) const;
  QComboBox* comboBox(int id) const;
  QTreeWidget* listView(int id) const;

  // Text of a button, label, edit, check box or combo box; empty for others.
  QString controlText(int id) const;
  void setControlText(int id, const QString& text);
  void setControlVisible(int id, bool visible);
  // Gives the keyboard focus to the control.
  void focusControl(int id);
  // The control's rectangle in screen (global) pixels; empty for an unknown ID.
  QRect controlScreenRect(int id) const;
  // A screen rectangle in this dialog's client coordinates.
  QRect screenToClient(const QRect& screenRect) const;
  // Dialog units to pixels, from this dialog's font and the scale factor.
  QRect toPixels(const QRect& dialogUnits) const;

  // Posts a message: its handler runs later on the UI thread, after the current
  // event. Safe to call from any thread.
  void postMessage(int message, const QVariant& wParam = {}, const QVariant& lParam = {});
  // Sends a message: its handler runs now (from another thread: on the UI thread,
  // waiting for it). Returns the handler's result, 0 when none is registered.
  qintptr sendMessage(int message, const QVariant& wParam = {}, const QVariant& lParam = {});

  static QString objectNameFor(int id);

 protected:
  // Called once by runModal before the dialog is shown. Default: true.
  virtual bool onInitDialog();
  // Return, the default button's absence aside, and a captionOk close. Default: endDialog(IDOK).
  virtual void onOk();
  // Escape and a close without captionOk. Default: endDialog(IDCANCEL).
  virtual void onCancel();
  // Called once when the modal run ends, while the controls still exist.
  virtual void onDestroy();

  // Registers the handler of a message (the dialog's message map).
  void onMessage(int message, MessageHandler handler);

  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void accept() override;
  void reject() override;

 private:
  void createControls();
  qintptr dispatch(int message, const QVariant& wParam, const QVariant& lParam);

  DialogTemplate template_;
  std::map<int, QWidget*> controls_;
  std::map<int, MessageHandler> handlers_;
  bool destroyed_ = false;
};

// Scale factor applied to dialog units on top of the font metrics; desktop
// screens want 2 or more to look like a handheld's screen. Default 1, or the
// STORE_UI_SCALE environment variable when set.
double uiScale();
void setUiScale(double scale);

}  // namespace platform
