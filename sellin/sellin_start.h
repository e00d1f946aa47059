#pragma once
// Sellin connects by log-in, the buyer's session query and the choice of a
// buying session, asking for the log-in again until a session is chosen or the
// log-in is cancelled.
#include <QString>

#include "shell/start_behaviour.h"
#include "tessel/data_array.h"
#include "tessel/records.h"

class CSocketMessage;

class CSellinStart : public CStartBehaviour {
 public:
  // Passes of the log-in loop before it gives up, so it ends even if a log-in
  // could succeed without the buyer.
  static constexpr int kMaxLogInPasses = 5;

  explicit CSellinStart(CSocketMessage& msg) : m_msg(msg) {}

  void OnAutoConnect(CStartDlg& dlg) override;
  void OnConfigure(CStartDlg& dlg) override;
  void OnOpenFeature(CStartDlg& dlg) override;

  void LogInAndConnect(CStartDlg& dlg);
  // The session query and the choice. False when the message could not be
  // prepared (nothing was sent).
  bool ConnectToServer(CStartDlg& dlg);
  // Lets the buyer choose from the sessions; true and m_session set when one
  // was chosen.
  bool ChooseSession(CStartDlg& dlg, const CDataArray<CSLSessionInfo>* pSessions);

  // Settings of the profile, read anew on every call.
  static QString GetBuyerUser();
  static QString GetBuyerPass();
  static int GetStoreNum();

  // The buying session chosen while connecting.
  CSLSessionInfo m_session;

 private:
  CSocketMessage& m_msg;
};
