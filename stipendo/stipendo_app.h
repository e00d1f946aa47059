#pragma once
#include "shell/shell_app.h"

class CStipendoApp : public CShellApp {
 public:
  CStipendoApp();

 protected:
  std::unique_ptr<CStartBehaviour> CreateStartBehaviour() override;
};
