#include "adoptra/adoptra_app.h"

#include "adoptra/adoptra_dlg.h"
#include "shell/login_packet_behaviour.h"
#include "tessel/trim.h"
#include "wire/exchange.h"

namespace {

class CAdoptraStart : public CLogInPacketBehaviour {
 public:
  explicit CAdoptraStart(CAdoptraApp& app) : CLogInPacketBehaviour(app.m_socketMsg), m_app(app) {}

 protected:
  void OnLoggedIn(const QString& reply) override { m_app.LoadLocations(reply); }
  void RunFeatureDialog(CStartDlg& dlg) override;

 private:
  CAdoptraApp& m_app;
};

void CAdoptraStart::RunFeatureDialog(CStartDlg&) {
  CAdoptraDlg dlg;
  dlg.runModal();
}

}  // namespace

CAdoptraApp::CAdoptraApp()
    : CShellApp({wire::kAppAdoptra, QStringLiteral("Adoptra"), QStringLiteral("Adoptra"), 1013, 49, 61}) {}

void CAdoptraApp::LoadLocations(const QString& reply) {
  m_locations.RemoveAll();
  m_locations.FillFromResponse(reply);
  for (int i = 0; i < m_locations.GetSize(); ++i) {
    CLocationInfo location = m_locations.GetAt(i);
    location.m_strName = TrimLeading(location.m_strName);
    m_locations.SetAt(i, location);
  }
}

std::unique_ptr<CStartBehaviour> CAdoptraApp::CreateStartBehaviour() { return std::make_unique<CAdoptraStart>(*this); }
