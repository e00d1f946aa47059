#pragma once
// A Sellin app logged in as the buyer to the store server in this process on
// the demo store. Boxes a step shows are armed with their answers and their
// texts compared after the test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "sellin/sellin_app.h"
#include "tessel/socket_message.h"
#include "tests/support/demo_server.h"
#include "tests/support/qt_fixture.h"

class SellinTest : public testsupport::QtFixture {
 protected:
  void SetUp() override {
    QtFixture::SetUp();
    ASSERT_TRUE(m_server.started());
    m_app = std::make_unique<CSellinApp>();
    logIn(m_app->m_socketMsg);
  }
  void TearDown() override {
    m_app.reset();
    QtFixture::TearDown();
  }
  void logIn(CSocketMessage& msg) const {
    msg.SetServer(m_server.url());
    msg.SetCredentials(QStringLiteral("buyer"), QStringLiteral("buyer1"));
  }
  void expectBox(const std::string& text, int answer = platform::IDOK) {
    platform::MessageBoxScript::arm(answer);
    m_boxes.push_back(text);
  }
  void checkBoxes() const {
    std::vector<std::string> shown;
    for (const auto& box : platform::MessageBoxScript::shown()) shown.push_back(box.text.toStdString());
    EXPECT_EQ(shown, m_boxes);
  }

  testsupport::DemoServer m_server;
  std::unique_ptr<CSellinApp> m_app;
  std::vector<std::string> m_boxes;
};
