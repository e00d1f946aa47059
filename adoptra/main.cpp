#include "adoptra/adoptra_app.h"

int main(int argc, char** argv) { return RunProgram<CAdoptraApp>(argc, argv, QStringLiteral("adoptra")); }
