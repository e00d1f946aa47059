#include "shell/login_packet_behaviour.h"

#include "shell/start_dlg.h"
#include "tessel/global_functions.h"
#include "tessel/socket_message.h"

void CLogInPacketBehaviour::OnAutoConnect(CStartDlg& dlg) { ConnectToServer(dlg); }

void CLogInPacketBehaviour::OnConfigure(CStartDlg& dlg) {
  if (CGlobalFunctions::DoOnLogIn(dlg.AppType(), &dlg)) ConnectToServer(dlg);
}

void CLogInPacketBehaviour::OnOpenFeature(CStartDlg& dlg) {
  if (!dlg.m_bConnected && CGlobalFunctions::DoOnLogIn(dlg.AppType(), &dlg)) ConnectToServer(dlg);
  if (dlg.m_bConnected) RunFeatureDialog(dlg);
}

bool CLogInPacketBehaviour::ConnectToServer(CStartDlg& dlg) {
  dlg.SetStatus(QStringLiteral("Connecting"));
  QString reply;
  if (!CGlobalFunctions::FillSocketMsg(dlg.AppType(), m_msg, &dlg)) return false;
  dlg.m_bConnected = false;
  dlg.paintNow();
  if (CGlobalFunctions::GetQLCPacket(dlg.AppType(), &m_msg, reply)) {
    OnLoggedIn(m_msg.GetResponse(0));
    dlg.m_bConnected = true;
  }
  dlg.SetStatus(reply);
  return true;
}
