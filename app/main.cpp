// QuotivaUpgrade.exe: brings an installed copy of Quotiva up to date.
#include <windows.h>

#include "app/program.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return qv::RunUpgradeProgram(); }
