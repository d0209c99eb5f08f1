// The application object in a real Windows process: the loop, termination
// from inside a handler, and the exception report.
#include "framework/application.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/exception.h"

namespace qv {
namespace {

// A message-only window whose procedure runs a callback for WM_USER.
class CallbackWindow {
public:
    explicit CallbackWindow(std::function<void()> onUser) : onUser_(std::move(onUser)) {
        static bool registered = false;
        if (!registered) {
            WNDCLASSW wc{};
            wc.lpfnWndProc = &CallbackWindow::Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"qvTestCallbackWindow";
            RegisterClassW(&wc);
            registered = true;
        }
        hwnd_ = CreateWindowExW(0, L"qvTestCallbackWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), this);
    }
    ~CallbackWindow() { DestroyWindow(hwnd_); }
    HWND Handle() const { return hwnd_; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        auto* self = reinterpret_cast<CallbackWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == WM_USER && self) {
            // Window procedures catch and report; the program goes on.
            try {
                self->onUser_();
            } catch (const std::exception& e) {
                Application::Instance().HandleException(e);
            }
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    HWND hwnd_;
    std::function<void()> onUser_;
};

TEST(Application, ReportsExceptionsFromHandlersAndTerminatesAfterTheHandler) {
    Application& app = Application::Instance();
    app.Initialize();
    app.SetTitle("Quotiva Internet Upgrading System");
    std::vector<std::string> reports;
    app.OnExceptionReport = [&](const std::string& text) { reports.push_back(text); };

    std::vector<std::string> steps;
    CallbackWindow raiser([&] {
        steps.push_back("raise");
        throw EInOutError("File not found", 2);
    });
    CallbackWindow finisher([&] {
        app.Terminate();
        steps.push_back("after terminate");  // the handler runs to its end
    });
    PostMessageW(raiser.Handle(), WM_USER, 0, 0);
    PostMessageW(finisher.Handle(), WM_USER, 0, 0);
    PostMessageW(raiser.Handle(), WM_USER, 0, 0);  // never reached: the loop has ended
    app.Run();

    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(steps, (std::vector<std::string>{"raise", "after terminate"}));
    EXPECT_EQ(reports, (std::vector<std::string>{"File not found"}));
    app.OnExceptionReport = nullptr;
}

// Every catch (...) site reports through HandleCurrentException: the
// program's own exceptions, the library's and anything else thrown.
TEST(Application, ReportsTheCurrentExceptionWhateverItsType) {
    Application& app = Application::Instance();
    std::vector<std::string> reports;
    app.OnExceptionReport = [&](const std::string& text) { reports.push_back(text); };
    const std::function<void()> throwers[] = {
        [] { throw EInOutError("File not found", 2); },
        [] { throw std::bad_alloc(); },
        [] { throw std::runtime_error("plain library error"); },
        [] { throw 42; },
    };
    for (const auto& raise : throwers) {
        try {
            raise();
        } catch (...) {
            app.HandleCurrentException();
        }
    }
    EXPECT_EQ(reports, (std::vector<std::string>{"File not found", "Out of memory", "plain library error",
                                                 "Unknown exception"}));
    app.OnExceptionReport = nullptr;
}

TEST(Application, MessageBoxesGoThroughTheHook) {
    Application& app = Application::Instance();
    std::string seen;
    app.OnMessageBox = [&](HWND, const std::string& text, const std::string& caption, UINT flags) {
        seen = caption + "|" + text + "|" + std::to_string(flags & MB_ICONMASK);
        return IDOK;
    };
    EXPECT_EQ(app.ShowMessageBox(nullptr, "Transfer timed out", "FTP Error: 530", MB_ICONWARNING), IDOK);
    EXPECT_EQ(seen, "FTP Error: 530|Transfer timed out|" + std::to_string(MB_ICONWARNING));
    app.OnMessageBox = nullptr;
}

}  // namespace
}  // namespace qv
