// QuotivaUpgrade.exe: brings an installed copy of Quotiva up to date.
#include <windows.h>

#include "app/get_update_file.h"
#include "comms/base/startup.h"
#include "comms/dispatch/startup.h"
#include "comms/port/startup.h"
#include "framework/application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    qv::Application& app = qv::Application::Instance();
    app.Initialize();
    int exitCode = 0;
    try {
        // The communications layers start before the window is made and end
        // after it is gone (its FTP client closes its connection first).
        qv::CommsBaseStartup base;
        qv::CommsDispatchStartup dispatch;
        qv::CommsPortStartup port;
        qv::RegisterApplicationClasses();
        app.SetTitle(qv::kApplicationTitle);
        qv::ComponentPtr<qv::GetUpdateFile> window = qv::CreateForm<qv::GetUpdateFile>();
        app.Run();
        window.reset();
    } catch (...) {
        app.HandleCurrentException();
        exitCode = 1;
    }
    return exitCode;
}
