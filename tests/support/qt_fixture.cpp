#include "tests/support/qt_fixture.h"

#include <QApplication>
#include <QWidget>

#include "platform/message_box.h"
#include "platform/profile.h"

namespace testsupport {

namespace {

void processLeftoverEvents() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

QStringList messageBoxProblems() {
  using platform::MessageBoxScript;
  QStringList problems;
  for (const MessageBoxScript::ShownBox& box : MessageBoxScript::shown())
    if (!box.answered)
      problems << QStringLiteral("message box \"%1\" (caption \"%2\") had no fitting armed answer")
                      .arg(box.text, box.caption);
  if (const int left = MessageBoxScript::leftoverAnswerCount())
    problems << QStringLiteral("%1 armed message box answer(s) left over").arg(left);
  return problems;
}

QSet<QWidget*> topLevelWidgetSet() {
  const QWidgetList widgets = QApplication::topLevelWidgets();
  return QSet<QWidget*>(widgets.begin(), widgets.end());
}

QList<QWidget*> newTopLevelWidgets(const QSet<QWidget*>& before) {
  processLeftoverEvents();
  QList<QWidget*> added;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (!before.contains(widget)) added << widget;
  return added;
}

void QtFixture::SetUp() {
  processLeftoverEvents();
  widgetsBefore_ = topLevelWidgetSet();
  profileDir_ = std::make_unique<QTemporaryDir>();
  ASSERT_TRUE(profileDir_->isValid());
  platform::Profile::useDirectory(profileDir_->path());
  platform::Profile::setRegistryKey(QStringLiteral("OST_PDA"), QStringLiteral("OST"));
  platform::MessageBoxScript::begin();
  ModalDriver::start();
}

void QtFixture::TearDown() {
  for (const QString& problem : ModalDriver::takeProblems()) ADD_FAILURE() << qPrintable(problem);
  ModalDriver::stop();
  for (const QString& problem : messageBoxProblems()) ADD_FAILURE() << qPrintable(problem);
  platform::MessageBoxScript::end();
  for (QWidget* widget : newTopLevelWidgets(widgetsBefore_)) {
    ADD_FAILURE() << "top-level widget left over: " << widget->metaObject()->className() << " \""
                  << qPrintable(widget->windowTitle()) << "\"";
    // Hidden, not deleted: it may still belong to something the test owns.
    widget->hide();
  }
}

QString QtFixture::profileDirectory() const { return profileDir_ ? profileDir_->path() : QString(); }

}  // namespace testsupport
