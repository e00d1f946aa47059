#include "stipendo/stipendo_app.h"

int main(int argc, char** argv) { return RunProgram<CStipendoApp>(argc, argv, QStringLiteral("stipendo")); }
