// QuotivaUpgradeKillTest.exe: the program exactly as users receive it, plus
// a way to stop it dead at a chosen moment, for the test of what a kill (a
// power cut, the task manager) leaves behind. Built for the tests only.
//
// Environment:
//   QV_KILL_AT_CHANGE=n   stop before the n-th change the installation of
//                         the run's files makes on disk (1 = the first)
//   QV_KILL_ON_TRACE=text stop at the first line of the run's trace that
//                         holds the text (e.g. "download qvxnews.dat")
//   QV_RUN_TRACE=file     append every line of the run's trace to the file,
//                         and the change about to be made before a stop
// A stop is TerminateProcess on the program itself: no handler, destructor
// or buffer of the program runs after it, as with a kill from outside.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "app/get_update_file.h"
#include "app/install_files.h"
#include "app/program.h"

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void Record(const std::string& line) {
    static const std::string file = Env("QV_RUN_TRACE");
    if (file.empty()) return;
    HANDLE h = CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

[[noreturn]] void Stop(const std::string& why) {
    Record("killed: " + why);
    TerminateProcess(GetCurrentProcess(), 9);
    for (;;) Sleep(1000);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const int killAtChange = std::atoi(Env("QV_KILL_AT_CHANGE").c_str());
    const std::string killOnTrace = Env("QV_KILL_ON_TRACE");
    qv::GetUpdateFile::SetProcessRunTrace([killOnTrace](const std::string& line) {
        Record(line);
        if (!killOnTrace.empty() && line.find(killOnTrace) != std::string::npos) Stop("at \"" + line + "\"");
    });
    qv::WindowsInstallFiles::SetChangeHook([killAtChange](const std::string& change) {
        static int changes = 0;
        ++changes;
        if (killAtChange > 0 && changes == killAtChange) Stop("before change " + std::to_string(changes) + ": " + change);
        Record("change " + std::to_string(changes) + ": " + change);
    });
    return qv::RunUpgradeProgram();
}
