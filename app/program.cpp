#include "app/program.h"

#include "app/get_update_file.h"
#include "comms/base/startup.h"
#include "comms/dispatch/startup.h"
#include "comms/port/startup.h"
#include "framework/application.h"

namespace qv {

int RunUpgradeProgram() {
    Application& app = Application::Instance();
    app.Initialize();
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
        app.Run();
        window.reset();
    } catch (...) {
        app.HandleCurrentException();
        exitCode = 1;
    }
    return exitCode;
}

}  // namespace qv
