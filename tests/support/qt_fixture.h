#pragma once
// Base of every test that touches widgets, message boxes or the profile. Per
// test: the profile lives in a fresh temporary directory under key "OST_PDA",
// profile "OST"; message boxes are scripted; the modal driver runs. At the end
// the test fails on an unanswered box, a left-over armed answer, a modal driver
// problem or a top-level widget left behind. A subclass that overrides SetUp
// or TearDown calls these first / last.
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "tests/support/dialog_actions.h"
#include "tests/support/modal_driver.h"

class QWidget;

namespace testsupport {

class QtFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  QString profileDirectory() const;

 private:
  std::unique_ptr<QTemporaryDir> profileDir_;
  QSet<QWidget*> widgetsBefore_;
};

}  // namespace testsupport
