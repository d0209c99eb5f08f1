// The application object: title, message loop, termination, message boxes
// and the standard exception report.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

namespace qv {

class Application {
public:
    static Application& Instance();

    // Records the main (user-interface) thread and routes portable code's
    // MessageDlg to ShowMessageBox (the common controls are readied with the
    // first control window).
    void Initialize();

    const std::string& Title() const { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }

    // Runs the message loop until Terminate (or a quit message) ends it.
    void Run();
    // Asks the loop to end at its next turn; the current handler runs on.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Handles every pending message of the thread, then returns.
    void ProcessMessages();

    bool IsMainThread() const { return GetCurrentThreadId() == mainThreadId_; }

    // The standard exception report: a message box with the exception's text,
    // captioned with the title. Window procedures and event deliveries catch
    // exceptions and hand them here; the program goes on.
    void HandleException(const std::exception& e);
    // The same report for the exception being handled, whatever its type
    // ("Unknown exception" for one that is no std::exception). Only for use
    // inside a catch block:  catch (...) { app.HandleCurrentException(); }
    void HandleCurrentException();

    // A modal message box; texts are program texts (Big5/ASCII).
    int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags);

    // The dialog keys of the loop's messages (Tab, Enter, Esc ...): a form
    // sets the handler when it is made, so that a program without forms
    // links none of the control code and loads none of the control
    // libraries. The handler says whether it took the message.
    using DialogKeyHandler = bool (*)(MSG& msg);
    static void SetDialogKeyHandler(DialogKeyHandler handler) { dialogKeys_ = handler; }

    // Test hooks: when set, they replace the real boxes.
    std::function<void(const std::string& text)> OnExceptionReport;
    std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT flags)> OnMessageBox;

private:
    Application();
    static bool DialogNavigation(MSG& msg) { return dialogKeys_ && dialogKeys_(msg); }
    static inline DialogKeyHandler dialogKeys_ = nullptr;
    void ReportException(const std::string& text);
    std::string title_;
    DWORD mainThreadId_;
    bool terminated_ = false;
};

}  // namespace qv
