// QuotivaUpgrade.exe: brings an installed copy of Quotiva up to date.
#include <windows.h>

#include "app/program.h"
#include "framework/win32_text.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return qv::RunUpgradeProgram(qv::FromWide(GetCommandLineW()));
}
