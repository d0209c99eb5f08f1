#include "framework/application.h"

#include "framework/dialogs.h"
#include "framework/exception.h"
#include "framework/win32_text.h"

namespace qv {

Application& Application::Instance() {
    static Application app;
    return app;
}

Application::Application() : mainThreadId_(GetCurrentThreadId()) {}

void Application::Initialize() {
    mainThreadId_ = GetCurrentThreadId();
    // Portable code's questions become message boxes captioned with the
    // title, answered through ShowMessageBox (and so through OnMessageBox).
    SetMessageDlgHandler([this](const std::string& text, MsgDlgType type, unsigned buttons) {
        UINT flags = MB_TASKMODAL;
        if ((buttons & mbYes) && (buttons & mbNo)) flags |= (buttons & mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
        else if ((buttons & mbOK) && (buttons & mbCancel)) flags |= MB_OKCANCEL;
        else flags |= MB_OK;  // one button: OK (or a lone Cancel, which Win32 boxes cannot show)
        switch (type) {
            case MsgDlgType::mtWarning: flags |= MB_ICONWARNING; break;
            case MsgDlgType::mtError: flags |= MB_ICONERROR; break;
            case MsgDlgType::mtInformation: flags |= MB_ICONINFORMATION; break;
            case MsgDlgType::mtConfirmation: flags |= MB_ICONQUESTION; break;
            case MsgDlgType::mtCustom: break;
        }
        int r = ShowMessageBox(GetActiveWindow(), text, title_, flags);
        // A lone Cancel button answers Cancel whichever way the box closed.
        if (buttons == mbCancel) return static_cast<int>(mrCancel);
        return r;
    });
}

void Application::Run() {
    MSG msg;
    while (!terminated_) {
        BOOL r = GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) {
            terminated_ = true;
            break;
        }
        if (DialogNavigation(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Application::Terminate() {
    if (terminated_) return;
    terminated_ = true;
    PostQuitMessage(0);
}

void Application::ProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (DialogNavigation(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Application::HandleException(const std::exception& e) { ReportException(ExceptionText(e)); }

void Application::HandleCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        HandleException(e);
    } catch (...) {
        ReportException("Unknown exception");
    }
}

void Application::ReportException(const std::string& text) {
    if (OnExceptionReport) {
        OnExceptionReport(text);
        return;
    }
    ShowMessageBox(nullptr, text, title_, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

int Application::ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
    if (OnMessageBox) return OnMessageBox(owner, text, caption, flags);
    return MessageBoxW(owner, ToWide(text).c_str(), ToWide(caption).c_str(), flags);
}

}  // namespace qv
