// QuotivaUpgrade.exe: brings an installed copy of Quotiva up to date.
#include <windows.h>

#include "app/get_update_file.h"
#include "comms/base/comms_base_unit.h"
#include "comms/dispatch/comms_dispatch_unit.h"
#include "comms/port/comms_port_unit.h"
#include "framework/application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    qv::Application& app = qv::Application::Instance();
    app.Initialize();
    int exitCode = 0;
    try {
        // The communications layers start before the window is made and end
        // after it is gone (its FTP client closes its connection first).
        qv::CommsBaseUnit base;
        qv::CommsDispatchUnit dispatch;
        qv::CommsPortUnit port;
        qv::RegisterApplicationClasses();
        app.SetTitle(qv::kApplicationTitle);
        std::unique_ptr<qv::GetUpdateFile> window = qv::CreateForm<qv::GetUpdateFile>();
        app.Run();
        window.reset();
    } catch (...) {
        app.HandleCurrentException();
        exitCode = 1;
    }
    return exitCode;
}
