#pragma once
// Connecting by the log-in exchange alone, as the lookup programs do: the log-in
// dialog only when the clerk asks for it, the status line shows what the
// server answered.
#include <QString>

#include "shell/start_behaviour.h"

class CSocketMessage;

class CLogInPacketBehaviour : public CStartBehaviour {
 public:
  explicit CLogInPacketBehaviour(CSocketMessage& msg) : m_msg(msg) {}

  void OnAutoConnect(CStartDlg& dlg) override;
  void OnConfigure(CStartDlg& dlg) override;
  void OnOpenFeature(CStartDlg& dlg) override;

  // The log-in exchange. False when the message could not be prepared (nothing
  // was sent); true when the exchange was attempted, whatever its outcome.
  bool ConnectToServer(CStartDlg& dlg);

 protected:
  // After a successful log-in, with the records the server sent with it.
  virtual void OnLoggedIn(const QString& reply) { (void)reply; }
  // Runs the program's feature dialog; called only while connected.
  virtual void RunFeatureDialog(CStartDlg& dlg) = 0;

  CSocketMessage& m_msg;
};
