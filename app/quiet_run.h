// A run started with /quiet: no window, no message box. Every box the run
// would show, every step it traces and its outcome go to a log file
// (UTF-8); the outcome is the exit code (command_line.h). A run that would
// stand and wait for "Cancel" (the session lost, a time-out, a login the
// server refused) ends at once instead.
#pragma once

#include <windows.h>

#include <string>

#include "framework/files.h"

namespace qv {

class GetUpdateFile;

class QuietRun {
public:
    // Opens (appends to) the log file; an empty path is the default,
    // %TEMP%\QuotivaUpgrade.log.
    explicit QuietRun(const std::string& logFile);
    ~QuietRun();
    QuietRun(const QuietRun&) = delete;
    QuietRun& operator=(const QuietRun&) = delete;

    // Routes the application's boxes and reports here. Before the window
    // is made (its creation may already report that Quotiva is missing).
    void Install();
    // The window whose run this is, once made.
    void Watch(GetUpdateFile* window);
    // The exit code, decided from what happened and the run's state; also
    // written to the log. Before the window goes.
    int Finish();

    const std::string& LogPath() const { return path_; }
    void Log(const std::string& line);

private:
    int Box(const std::string& text, const std::string& caption, UINT flags);
    void Failure(bool standing);
    void End();
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);

    std::string path_;
    OwnedFile file_;
    GetUpdateFile* window_ = nullptr;
    UINT_PTR timer_ = 0;
    DWORD start_ = 0;
    bool notFound_ = false, noSession_ = false, fileFailed_ = false, inUse_ = false;
};

}  // namespace qv
