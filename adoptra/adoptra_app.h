#pragma once
#include "shell/shell_app.h"
#include "tessel/data_array.h"
#include "tessel/records.h"

class CAdoptraApp : public CShellApp {
 public:
  CAdoptraApp();

  // Replaces the location list with the records of the log-in reply, names
  // without their leading white space.
  void LoadLocations(const QString& reply);

  // The store's locations, loaded at log-in and read by the lookup dialog.
  CDataArray<CLocationInfo> m_locations;

 protected:
  std::unique_ptr<CStartBehaviour> CreateStartBehaviour() override;
  void OnStartDialogClosed() override { m_locations.RemoveAll(); }
};
