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
#include "framework/message_window.h"

namespace qv {
namespace {

// A message-only window that runs a callback for WM_USER; what the callback
// throws goes to the report, as for every window procedure.
class CallbackWindow {
public:
    explicit CallbackWindow(std::function<void()> onUser) {
        window_.On(WM_USER, [onUser = std::move(onUser)](WPARAM, LPARAM) {
            onUser();
            return LRESULT(0);
        });
    }
    HWND Handle() const { return window_.Handle(); }

private:
    MessageWindow window_{L"qvTestCallbackWindow", nullptr};
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
