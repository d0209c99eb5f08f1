#include "app/program.h"

#include <windows.h>

#include <memory>

#include "app/command_line.h"
#include "app/get_update_file.h"
#include "app/quiet_run.h"
#include "comms/base/startup.h"
#include "comms/dispatch/startup.h"
#include "comms/port/startup.h"
#include "framework/application.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

// The usage, to the console the program was started from (or, started
// without one, in a box).
void PrintUsage(const std::string& lead) {
    const std::string text = lead + kProgramUsage;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((!out || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE && WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return;
    MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(kApplicationTitle).c_str(), MB_OK);
}

}  // namespace

int RunUpgradeProgram(const std::string& commandLine) {
    const ProgramOptions options = ParseProgramOptions(CommandLineArguments(commandLine));
    if (!options.error.empty()) {
        PrintUsage("Unknown argument: " + options.error + "\n");
        return kExitUsage;
    }
    if (options.usage) {
        PrintUsage("");
        return 0;
    }
    Application& app = Application::Instance();
    app.Initialize();
    std::unique_ptr<QuietRun> quiet;
    if (options.quiet) {
        quiet = std::make_unique<QuietRun>(options.logFile);
        quiet->Install();
    }
    int exitCode = 0;
    try {
        // The communications layers start before the window is made and end
        // after it is gone (its FTP client closes its connection first).
        CommsBaseStartup base;
        CommsDispatchStartup dispatch;
        CommsPortStartup port;
        RegisterApplicationClasses();
        app.SetTitle(kApplicationTitle);
        ComponentPtr<GetUpdateFile> window = CreateForm<GetUpdateFile>();
        if (quiet) quiet->Watch(window.get());
        // "Download File", pressed once the window shows (from the message
        // loop: the window is up, and the start-up's end, if it ended the
        // program, comes first).
        if (options.autoStart) PostMessageW(window->btnDownload->Handle(), BM_CLICK, 0, 0);
        app.Run();
        if (quiet) exitCode = quiet->Finish();
        window.reset();
    } catch (...) {
        app.HandleCurrentException();
        exitCode = 1;
    }
    return exitCode;
}

}  // namespace qv
