#pragma once
#include "shell/shell_app.h"

class CSellinApp : public CShellApp {
 public:
  CSellinApp();

 protected:
  std::unique_ptr<CStartBehaviour> CreateStartBehaviour() override;
};
