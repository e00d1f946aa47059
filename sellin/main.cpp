#include "sellin/sellin_app.h"

int main(int argc, char** argv) { return RunProgram<CSellinApp>(argc, argv, QStringLiteral("sellin")); }
