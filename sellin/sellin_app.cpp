#include "sellin/sellin_app.h"

#include "sellin/sellin_start.h"
#include "wire/exchange.h"

CSellinApp::CSellinApp()
    : CShellApp({wire::kAppSellin, QStringLiteral("Sellin"), QStringLiteral("Sellin"), 1045, 54, 50}) {}

std::unique_ptr<CStartBehaviour> CSellinApp::CreateStartBehaviour() {
  return std::make_unique<CSellinStart>(m_socketMsg);
}
