#include "app/quiet_run.h"

#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/get_update_file.h"
#include "app/upgrade_texts.h"
#include "comms/base/comm_errors.h"
#include "framework/application.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

// A login that has not brought the session in this long will not: the
// program does not wait for "Cancel" here.
constexpr DWORD kLoginLimitMs = 120000;

QuietRun* current = nullptr;

std::string DefaultLogPath() {
    wchar_t folder[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    return FromWide(std::wstring(folder, n > MAX_PATH ? 0 : n)) + "QuotivaUpgrade.log";
}

bool Is(const std::string& text, const UpgradeText& t) { return text == t.english || text == t.chinese; }

}  // namespace

QuietRun::QuietRun(const std::string& logFile) : path_(logFile.empty() ? DefaultLogPath() : logFile) {
    file_ = OwnedFile(CreateFileW(ToWide(path_).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    current = this;
}

QuietRun::~QuietRun() {
    if (timer_) KillTimer(nullptr, timer_);
    Application& app = Application::Instance();
    app.OnMessageBox = nullptr;
    app.OnExceptionReport = nullptr;
    GetUpdateFile::SetProcessRunTrace(nullptr);
    current = nullptr;
}

void QuietRun::Log(const std::string& entry) {
    if (!file_) return;
    // One line per entry: a server's reply keeps its line end.
    std::string line = entry;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    SYSTEMTIME t;
    GetLocalTime(&t);
    char stamp[32];
    wsprintfA(stamp, "%04u-%02u-%02u %02u:%02u:%02u ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    // The program's texts are Big5; the log is UTF-8 for any reader.
    std::string text = stamp + FromWide(ToWide(line), CP_UTF8) + "\r\n";
    DWORD written = 0;
    WriteFile(file_.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void QuietRun::Install() {
    Log("start: QuotivaUpgrade.exe /quiet");
    Application& app = Application::Instance();
    app.OnMessageBox = [this](HWND, const std::string& text, const std::string& caption, UINT flags) {
        return Box(text, caption, flags);
    };
    app.OnExceptionReport = [this](const std::string& text) {
        Log("report: " + text);
        Failure(true);
    };
    GetUpdateFile::SetProcessRunTrace([this](const std::string& line) { Log("run: " + line); });
    GetUpdateFile::SetHidden(true);
}

void QuietRun::Watch(GetUpdateFile* window) {
    window_ = window;
    start_ = GetTickCount();
    timer_ = SetTimer(nullptr, 0, 1000, &QuietRun::Tick);
}

void CALLBACK QuietRun::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!current || !current->window_) return;
    const UpgradePhase phase = current->window_->Run().Phase();
    if ((phase == UpgradePhase::Idle || phase == UpgradePhase::LoggingIn) &&
        GetTickCount() - current->start_ > kLoginLimitMs) {
        current->Log("no session within " + std::to_string(kLoginLimitMs / 1000) + " s");
        current->noSession_ = true;
        current->End();
    }
}

int QuietRun::Box(const std::string& text, const std::string& caption, UINT flags) {
    Log("box: " + caption + ": " + text);
    if ((flags & MB_TYPEMASK) == MB_RETRYCANCEL) {
        // Files in use: "Cancel" leaves the installation as it was.
        inUse_ = true;
        Log("answered: Cancel");
        return IDCANCEL;
    }
    if (Is(text, kTextNotFound)) {
        notFound_ = true;
    } else if (caption.rfind(kTextFtpErrorCaption, 0) == 0) {
        // A socket error's box carries only its number: the log names it
        // too, for whoever reads it later.
        if (text.empty()) {
            const std::string number = caption.substr(std::strlen(kTextFtpErrorCaption));
            const std::string meaning = MessageForCode(std::atoi(number.c_str()));
            if (!meaning.empty()) Log("error " + number + ": " + meaning);
        }
        Failure(false);
    } else if (text == kTextTransferTimedOut) {
        Failure(true);
    }
    return IDOK;
}

void QuietRun::Failure(bool standing) {
    const UpgradePhase phase = window_ ? window_->Run().Phase() : UpgradePhase::Idle;
    if (phase == UpgradePhase::Idle || phase == UpgradePhase::LoggingIn) {
        // No session to work in: the run would wait for "Cancel".
        noSession_ = true;
        End();
        return;
    }
    fileFailed_ = true;
    // The session went, or the run stands: nothing more will come.
    if (standing || !window_->FtpClient1->IsConnected()) End();
}

void QuietRun::End() {
    Log("the run ends here");
    Application::Instance().Terminate();
}

int QuietRun::Finish() {
    int code;
    const char* what;
    const UpgradeRun* run = window_ ? &window_->Run() : nullptr;
    if (notFound_) {
        code = kExitNotInstalled, what = "Quotiva not installed";
    } else if (run && !run->SignedFailure().empty()) {
        code = kExitNotVerified, what = "upgrade not verified, nothing installed";
    } else if (inUse_) {
        code = kExitFilesInUse, what = "files in use, nothing installed";
    } else if (noSession_) {
        code = kExitNoSession, what = "no session (server unreachable or login refused)";
    } else if (fileFailed_) {
        code = kExitFileFailed, what = "a file failed";
    } else if (run && run->InstalledCount() > 0) {
        code = kExitUpgraded, what = "upgraded";
    } else {
        code = kExitNothingToUpgrade, what = "nothing to upgrade";
    }
    if (run) Log("files installed: " + std::to_string(run->InstalledCount()));
    Log(std::string("outcome: ") + what + " (exit code " + std::to_string(code) + ")");
    return code;
}

}  // namespace qv
