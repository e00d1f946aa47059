#pragma once
// What a program does behind its start dialog: how it connects and which
// feature dialog its button opens.
class CStartDlg;

class CStartBehaviour {
 public:
  virtual ~CStartBehaviour() = default;
  // WM_AUTOCONNECT, posted at start when a password is stored.
  virtual void OnAutoConnect(CStartDlg& dlg) = 0;
  // "Configure".
  virtual void OnConfigure(CStartDlg& dlg) = 0;
  // The feature button.
  virtual void OnOpenFeature(CStartDlg& dlg) = 0;
};
