#include "tests/support/qt_fixture.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <deque>

#include "platform/dialog.h"
#include "platform/message_box.h"
#include "platform/profile.h"

namespace testsupport {

namespace {

QString describe(const QWidget* widget) {
  return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(widget->metaObject()->className()), widget->windowTitle());
}

QString describe(const std::source_location& where) {
  return QStringLiteral("%1:%2").arg(QString::fromUtf8(where.file_name())).arg(where.line());
}

struct Queued {
  ModalDriver::Action action;
  std::source_location where;
};

// Polls the active modal widget; one that had its action is marked until it hides.
class Driver : public QObject {
 public:
  Driver() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
  }

  void start() {
    queue_.clear();
    problems_.clear();
    fallbackMs_ = 5000;
    current_.clear();
    timer_.start();
  }

  void poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return current_.clear();
    if (modal != current_) {
      current_ = modal;
      closeAttempts_ = 0;
      openFor_.start();
    }
    if (!modal->property(kActed).toBool() && !queue_.empty()) return runNext(modal);
    if (openFor_.elapsed() >= fallbackMs_) fallBack(modal);
  }

  // Queued, so an action that opens a nested dialog does not block the polling that drives it.
  void runNext(QWidget* modal) {
    Queued next = std::move(queue_.front());
    queue_.pop_front();
    modal->setProperty(kActed, true);
    modal->installEventFilter(this);
    openFor_.start();
    QMetaObject::invokeMethod(
        this,
        [this, target = QPointer<QWidget>(modal), next = std::move(next)] {
          if (target) next.action(target);
          else
            problems_ << QStringLiteral("the dialog for the action queued at %1 was gone before it ran")
                             .arg(describe(next.where));
        },
        Qt::QueuedConnection);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide) {
      watched->setProperty(kActed, false);
      watched->removeEventFilter(this);
    }
    return false;
  }

  // Each try is blunter: the dialog's own cancel may refuse to close.
  void fallBack(QWidget* modal) {
    if (closeAttempts_ == 0)
      problems_ << QStringLiteral("%1 was %2 for %3 ms; the driver closed it")
                       .arg(describe(modal), modal->property(kActed).toBool()
                                                 ? QStringLiteral("still open after its action")
                                                 : QStringLiteral("left open with no action"))
                       .arg(fallbackMs_);
    const int attempt = closeAttempts_++;
    openFor_.start();
    QMetaObject::invokeMethod(
        this,
        [target = QPointer<QWidget>(modal), attempt] {
          auto* dialog = qobject_cast<QDialog*>(target.data());
          if (dialog && attempt == 0) dialog->reject();
          else if (dialog && attempt == 1) dialog->done(platform::IDCANCEL);
          else if (target) target->hide();
        },
        Qt::QueuedConnection);
  }

  QStringList takeProblems() {
    QStringList problems = problems_;
    for (const Queued& queued : queue_)
      problems << QStringLiteral("the action queued at %1 never ran: no modal dialog came for it")
                      .arg(describe(queued.where));
    problems_.clear();
    queue_.clear();
    return problems;
  }

  static constexpr char kActed[] = "modalDriverActed";
  QTimer timer_;
  std::deque<Queued> queue_;
  QStringList problems_;
  QPointer<QWidget> current_;
  QElapsedTimer openFor_;
  int closeAttempts_ = 0;
  int fallbackMs_ = 5000;
};

Driver& driver() {
  static std::unique_ptr<Driver> instance;
  if (!instance) {
    instance = std::make_unique<Driver>();
    qAddPostRoutine([] { instance.reset(); });  // gone with the application, not after it
  }
  return *instance;
}

QSet<QWidget*> topLevelWidgetSet() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  const QWidgetList widgets = QApplication::topLevelWidgets();
  return QSet<QWidget*>(widgets.begin(), widgets.end());
}

void failOnUnansweredBoxes() {
  using platform::MessageBoxScript;
  for (const MessageBoxScript::ShownBox& box : MessageBoxScript::shown())
    if (!box.answered) ADD_FAILURE() << "message box \"" << qPrintable(box.text) << "\" had no fitting armed answer";
  if (const int left = MessageBoxScript::leftoverAnswerCount())
    ADD_FAILURE() << left << " armed message box answer(s) left over";
}

QWidget* usableControl(QWidget* dialog, int id) {
  QWidget* widget = dialog ? findControl(dialog, id) : nullptr;
  if (!widget) {
    ADD_FAILURE() << "no control " << id << " in " << (dialog ? qPrintable(dialog->windowTitle()) : "(no dialog)");
    return nullptr;
  }
  if (!widget->isVisible()) {
    ADD_FAILURE() << "control " << id << " of " << qPrintable(dialog->windowTitle()) << " is not visible";
    return nullptr;
  }
  return widget;
}

}  // namespace

void QtFixture::SetUp() {
  widgetsBefore_ = topLevelWidgetSet();
  profileDir_ = std::make_unique<QTemporaryDir>();
  ASSERT_TRUE(profileDir_->isValid());
  platform::Profile::useDirectory(profileDir_->path());
  platform::Profile::setRegistryKey(QStringLiteral("OST_PDA"), QStringLiteral("OST"));
  platform::MessageBoxScript::begin();
  driver().start();
}

void QtFixture::TearDown() {
  for (const QString& problem : driver().takeProblems()) ADD_FAILURE() << qPrintable(problem);
  driver().timer_.stop();
  failOnUnansweredBoxes();
  platform::MessageBoxScript::end();
  for (QWidget* widget : topLevelWidgetSet() - widgetsBefore_) {
    ADD_FAILURE() << "top-level widget left over: " << widget->metaObject()->className() << " \""
                  << qPrintable(widget->windowTitle()) << "\"";
    widget->hide();  // not deleted: it may still belong to something the test owns
  }
}

QString QtFixture::profileDirectory() const { return profileDir_ ? profileDir_->path() : QString(); }

void ModalDriver::whenModal(Action action, std::source_location where) {
  driver().queue_.push_back({std::move(action), where});
}

void ModalDriver::setFallbackTimeout(int milliseconds) { driver().fallbackMs_ = milliseconds; }

QWidget* findControl(const QWidget* dialog, int id) {
  return dialog ? dialog->findChild<QWidget*>(platform::Dialog::objectNameFor(id)) : nullptr;
}

void clickControl(QWidget* dialog, int id) {
  if (QWidget* widget = usableControl(dialog, id))
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

void typeInto(QWidget* dialog, int id, const QString& text) {
  if (QWidget* widget = usableControl(dialog, id)) {
    widget->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(widget, text);
  }
}

void replaceText(QWidget* dialog, int id, const QString& text) {
  QWidget* widget = usableControl(dialog, id);
  if (!widget) return;
  auto* edit = qobject_cast<QLineEdit*>(widget);
  if (!edit) {
    ADD_FAILURE() << "control " << id << " is not a single-line edit";
    return;
  }
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

void pressKey(QWidget* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers) {
  if (!dialog) {
    ADD_FAILURE() << "pressKey without a dialog";
    return;
  }
  QWidget* target = dialog->focusWidget();
  QTest::keyClick(target ? target : dialog, key, modifiers);
}

std::vector<std::string> listRows(const QWidget* dialog, int id, int columns, bool withData) {
  std::vector<std::string> rows;
  const auto* list = qobject_cast<const QTreeWidget*>(findControl(dialog, id));
  for (int i = 0; list && i < list->topLevelItemCount(); ++i) {
    QStringList texts;
    for (int c = 0; c < columns; ++c) texts << list->topLevelItem(i)->text(c);
    if (withData) texts << list->topLevelItem(i)->data(0, Qt::UserRole).toString();
    rows.push_back(texts.join('|').toStdString());
  }
  return rows;
}

}  // namespace testsupport
