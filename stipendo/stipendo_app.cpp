#include "stipendo/stipendo_app.h"

#include "shell/login_packet_behaviour.h"
#include "stipendo/stipendo_dlg.h"
#include "wire/exchange.h"

namespace {

class CStipendoStart : public CLogInPacketBehaviour {
 public:
  using CLogInPacketBehaviour::CLogInPacketBehaviour;

 protected:
  void RunFeatureDialog(CStartDlg&) override {
    CStipendoDlg dlg;
    dlg.runModal();
  }
};

}  // namespace

CStipendoApp::CStipendoApp()
    : CShellApp({wire::kAppStipendo, QStringLiteral("Stipendo"), QStringLiteral("Stipendo Lookup"), 1017, 41, 76}) {}

std::unique_ptr<CStartBehaviour> CStipendoApp::CreateStartBehaviour() {
  return std::make_unique<CStipendoStart>(m_socketMsg);
}
