#include "sellin/sellin_start.h"

#include "platform/message_box.h"
#include "platform/profile.h"
#include "sellin/select_session_dlg.h"
#include "sellin/ticket_dlg.h"
#include "shell/shell_app.h"
#include "shell/start_dlg.h"
#include "tessel/global_functions.h"
#include "tessel/query_strings.h"
#include "tessel/socket_message.h"
#include "wire/exchange.h"

namespace {
QString section() { return CGlobalFunctions::GetAppName(wire::kAppSellin); }
}  // namespace

void CSellinStart::OnAutoConnect(CStartDlg& dlg) { LogInAndConnect(dlg); }

void CSellinStart::OnConfigure(CStartDlg& dlg) { LogInAndConnect(dlg); }

void CSellinStart::OnOpenFeature(CStartDlg& dlg) {
  if (!dlg.m_bConnected) LogInAndConnect(dlg);
  if (!dlg.m_bConnected) return;
  CTicketDlg ticket(GetBuyerUser(), &m_session, GetStoreNum());
  ticket.runModal();
}

void CSellinStart::LogInAndConnect(CStartDlg& dlg) {
  dlg.m_bConnected = false;
  for (int pass = 0; pass < kMaxLogInPasses; ++pass) {
    if (!CGlobalFunctions::DoOnLogIn(wire::kAppSellin, &dlg)) {
      dlg.SetStatus(QStringLiteral("Not Logged In"));
      return;
    }
    ConnectToServer(dlg);
    if (dlg.m_bConnected) return;
  }
  dlg.SetStatus(QStringLiteral("Not Logged In"));
  platform::messageBox(&dlg,
                       QStringLiteral("Could not connect after %1 log-ins. Check the settings, then press "
                                      "Configure to try again.")
                           .arg(kMaxLogInPasses),
                       dlg.windowTitle(), platform::MessageIcon::Stop, platform::MessageButtons::Ok);
}

bool CSellinStart::ConnectToServer(CStartDlg& dlg) {
  dlg.SetStatus(QStringLiteral("Connecting"));
  if (!CGlobalFunctions::FillSocketMsg(wire::kAppSellin, m_msg, &dlg)) return false;
  dlg.m_bConnected = false;
  const int storeNum = GetStoreNum();
  const QString password = GetBuyerPass();
  const QString user = GetBuyerUser();
  m_msg.Reset();
  m_msg.AddQuery(wire::kPacketQuery, CGlobalQueryStrings::GetSLSession(user, password, storeNum));
  if (!m_msg.SendQuery() || m_msg.IsError(0)) {
    platform::messageBox(&dlg, m_msg.GetResponse(0), dlg.windowTitle(), platform::MessageIcon::Stop,
                         platform::MessageButtons::Ok);
    return true;
  }
  CDataArray<CSLSessionInfo> sessions;
  sessions.FillFromResponse(m_msg.GetResponse(0));
  if (ChooseSession(dlg, &sessions)) {
    dlg.m_bConnected = true;
    dlg.SetStatus(m_msg.GetUser());
  }
  return true;
}

bool CSellinStart::ChooseSession(CStartDlg& dlg, const CDataArray<CSLSessionInfo>* pSessions) {
  if (!pSessions) return false;
  CSelectSessionDlg chooser(pSessions, &dlg);
  if (chooser.runModal() != platform::IDOK) return false;
  if (chooser.m_nSelected < 0 || chooser.m_nSelected >= pSessions->GetSize()) return false;
  m_session = pSessions->GetAt(chooser.m_nSelected);
  return true;
}

QString CSellinStart::GetBuyerUser() { return platform::Profile::readString(section(), QStringLiteral("BuyerUser")); }

QString CSellinStart::GetBuyerPass() { return platform::Profile::readString(section(), QStringLiteral("BuyerPass")); }

int CSellinStart::GetStoreNum() { return platform::Profile::readInt(section(), QStringLiteral("StoreNum"), 1); }
