// main() of the Qt test executables: a QApplication, offscreen unless chosen, then every GoogleTest test.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  // Closing a test's last dialog must not end anything but that dialog.
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
