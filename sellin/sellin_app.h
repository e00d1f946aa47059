#pragma once
#include "shell/shell_app.h"

class CSellinApp : public CShellApp {
 public:
  CSellinApp();

  // The item lookup of a SKU at a store: its product and the store's
  // inventory record, asked in one exchange and shown in the lookup dialog.
  void LookUpItem(const QString& code, int storeNum);

 protected:
  std::unique_ptr<CStartBehaviour> CreateStartBehaviour() override;
};
