#include "tests/support/qt_fixture.h"

#include <QApplication>
#include <QWidget>

#include "platform/message_box.h"
#include "platform/profile.h"

namespace testsupport {

namespace {

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

}  // namespace

void QtFixture::SetUp() {
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
  failOnUnansweredBoxes();
  platform::MessageBoxScript::end();
  for (QWidget* widget : topLevelWidgetSet() - widgetsBefore_) {
    ADD_FAILURE() << "top-level widget left over: " << widget->metaObject()->className() << " \""
                  << qPrintable(widget->windowTitle()) << "\"";
    widget->hide();  // not deleted: it may still belong to something the test owns
  }
}

QString QtFixture::profileDirectory() const { return profileDir_ ? profileDir_->path() : QString(); }

}  // namespace testsupport
