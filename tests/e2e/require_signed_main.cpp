// QuotivaUpgradeRequireSigned.exe: the program as a publisher in required
// mode releases it (scripts/release --require-signed), for the tests: an
// upgrade folder without a signed manifest installs nothing. Built for the
// tests only, from the same code, so that the test build needs no second
// configuration.
#include <windows.h>

#include "app/get_update_file.h"
#include "app/program.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    qv::GetUpdateFile::SetSignedUpgradesRequired(true);
    return qv::RunUpgradeProgram();
}
