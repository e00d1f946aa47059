#include "tests/support/modal_driver.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <memory>

#include "platform/window_messages.h"

namespace testsupport {

namespace {

constexpr int kPollMilliseconds = 10;
constexpr int kDefaultFallbackMilliseconds = 5000;

QString describe(const QWidget* widget) {
  const QString title = widget->windowTitle();
  return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(widget->metaObject()->className()), title);
}

QString describe(const std::source_location& where) {
  return QStringLiteral("%1:%2").arg(QString::fromUtf8(where.file_name())).arg(where.line());
}

// Forgets that a widget had its action once it is hidden, so that showing it
// again makes it a new dialog for the next action.
class HideWatcher : public QObject {
 public:
  using QObject::QObject;
  std::function<void(QObject*)> onHide;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide && onHide) onHide(watched);
    return false;
  }
};

struct Queued {
  ModalDriver::Action action;
  std::source_location where;
};

class Driver : public QObject {
 public:
  Driver() {
    timer_.setInterval(kPollMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    watcher_.onHide = [this](QObject* widget) {
      widget->removeEventFilter(&watcher_);
      std::erase_if(acted_, [widget](const QPointer<QWidget>& w) { return !w || w == widget; });
    };
  }

  void start() {
    queue_.clear();
    problems_.clear();
    acted_.clear();
    actedCount_ = 0;
    fallbackMs_ = kDefaultFallbackMilliseconds;
    current_.clear();
    timer_.start();
  }

  void stop() {
    timer_.stop();
    for (const QPointer<QWidget>& widget : acted_)
      if (widget) widget->removeEventFilter(&watcher_);
    acted_.clear();
  }

  void poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) {
      current_.clear();
      return;
    }
    if (modal != current_) {
      current_ = modal;
      closeAttempts_ = 0;
      openFor_.start();
    }
    if (!hadAction(modal) && !queue_.empty()) {
      runNext(modal);
      return;
    }
    if (openFor_.elapsed() >= fallbackMs_) fallBack(modal);
  }

  bool hadAction(QWidget* modal) const {
    return std::any_of(acted_.begin(), acted_.end(), [modal](const QPointer<QWidget>& w) { return w == modal; });
  }

  void runNext(QWidget* modal) {
    Queued next = std::move(queue_.front());
    queue_.pop_front();
    acted_.push_back(modal);
    modal->installEventFilter(&watcher_);
    ++actedCount_;
    openFor_.start();
    // Run from the event loop, not from the timer: an action that opens a
    // nested dialog must not block the polling that drives it.
    QPointer<QWidget> target(modal);
    QMetaObject::invokeMethod(
        this,
        [this, target, next = std::move(next)] {
          if (!target) {
            problems_ << QStringLiteral("the modal widget for the action queued at %1 was gone before it ran")
                             .arg(describe(next.where));
            return;
          }
          next.action(target);
        },
        Qt::QueuedConnection);
  }

  void fallBack(QWidget* modal) {
    if (closeAttempts_ == 0) {
      const QString why = hadAction(modal) ? QStringLiteral("was still open %2 ms after its action")
                                           : QStringLiteral("was left open %2 ms with no action for it");
      problems_ << (QStringLiteral("%1 ") + why + QStringLiteral("; the driver closed it"))
                       .arg(describe(modal))
                       .arg(fallbackMs_);
    }
    // The dialog's own cancel may refuse to close; each later try is blunter.
    // Queued, like an action, in case closing opens another modal widget.
    const int attempt = closeAttempts_++;
    openFor_.start();
    QPointer<QWidget> target(modal);
    QMetaObject::invokeMethod(
        this,
        [target, attempt] {
          if (!target) return;
          auto* dialog = qobject_cast<QDialog*>(target.data());
          if (dialog && attempt == 0)
            dialog->reject();
          else if (dialog && attempt == 1)
            dialog->done(platform::IDCANCEL);
          else
            target->hide();
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

  QTimer timer_;
  HideWatcher watcher_;
  std::deque<Queued> queue_;
  std::vector<QPointer<QWidget>> acted_;
  QStringList problems_;
  QPointer<QWidget> current_;
  QElapsedTimer openFor_;
  int closeAttempts_ = 0;
  int actedCount_ = 0;
  int fallbackMs_ = kDefaultFallbackMilliseconds;
};

std::unique_ptr<Driver>& driverSlot() {
  static std::unique_ptr<Driver> driver;
  return driver;
}

Driver& driver() {
  std::unique_ptr<Driver>& slot = driverSlot();
  if (!slot) {
    slot = std::make_unique<Driver>();
    // Gone with the application, not after it.
    qAddPostRoutine([] { driverSlot().reset(); });
  }
  return *slot;
}

}  // namespace

void ModalDriver::whenModal(Action action, std::source_location where) {
  driver().queue_.push_back({std::move(action), where});
}

void ModalDriver::start() { driver().start(); }
void ModalDriver::stop() { driver().stop(); }
bool ModalDriver::running() { return driver().timer_.isActive(); }
int ModalDriver::pendingCount() { return int(driver().queue_.size()); }
int ModalDriver::actedCount() { return driver().actedCount_; }
void ModalDriver::setFallbackTimeout(int milliseconds) { driver().fallbackMs_ = milliseconds; }
int ModalDriver::fallbackTimeout() { return driver().fallbackMs_; }
QStringList ModalDriver::takeProblems() { return driver().takeProblems(); }

}  // namespace testsupport
