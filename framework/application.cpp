#include "framework/application.h"

#include <commctrl.h>

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
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES |
                                              ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&icc);
}

void Application::Run() {
    MSG msg;
    while (!terminated_) {
        BOOL r = GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) {
            terminated_ = true;
            break;
        }
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
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Application::HandleException(const std::exception& e) {
    std::string text = ExceptionText(e);
    if (OnExceptionReport) {
        OnExceptionReport(text);
        return;
    }
    ShowMessageBox(nullptr, text, title_, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

void Application::HandleUnknownException() {
    std::string text = "Unknown exception";
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
