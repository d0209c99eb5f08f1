// QuotivaUpgrade.exe: brings an installed copy of Quotiva up to date.
#include <windows.h>

#include "app/get_update_file.h"
#include "framework/application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    qv::Application& app = qv::Application::Instance();
    app.Initialize();
    qv::RegisterApplicationClasses();
    app.SetTitle(qv::kApplicationTitle);
    int exitCode = 0;
    try {
        std::unique_ptr<qv::GetUpdateFile> window = qv::CreateForm<qv::GetUpdateFile>();
        app.Run();
        window.reset();
    } catch (const std::exception& e) {
        app.HandleException(e);
        exitCode = 1;
    }
    return exitCode;
}
