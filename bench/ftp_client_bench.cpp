// The FTP client component's download benchmark: one large file fetched
// with FtpClient exactly as the upgrade run fetches its files (log in,
// DownloadFile in replace mode, every block reported as scProgress), in
// passive or active mode, driven by the thread's message loop.
//
// Usage: ftp_client_bench --port N --user NAME --password TEXT --file REMOTE
//                         --out LOCAL [--active] [--host ADDRESS]
// Prints a readable line and a line for scripts (ftp_ceiling's, with two
// figures more):
//   RESULT mode=passive bytes=N seconds=S close_seconds=C reads=R peak_working_set=B
//          timer_gap_ms=G idle_cpu_ms=I
// where seconds runs from DownloadFile until scTransferComplete reaches its
// handler (the component has closed the local file by then), reads counts
// the scProgress events (one per block received) and close_seconds is -1:
// the component closes its file itself, so that time is not measured apart.
//
// The window's responsiveness: a window timer of 10 ms runs on the same
// thread from DownloadFile on; G is the longest time between two of its
// WM_TIMER messages (or from DownloadFile to the first one, or from the last
// one to scTransferComplete) while the download runs. WM_TIMER comes only
// when the thread's queue holds nothing else, so a download that floods the
// queue or holds the thread shows here as a long gap.
//
// Idle: after the download (and a quarter of a second for its last replies),
// still logged in, the thread waits in its message loop for two seconds with
// the 10 ms timer stopped; I is the processor time (user and kernel) the
// process used meanwhile, as the system counts it (in 10 ms steps here).
// Exit status 0 when the transfer completed without an error, else 1.

#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_common.h"
#include "comms/base/startup.h"
#include "comms/dispatch/startup.h"
#include "comms/ftp/ftp_client.h"
#include "comms/port/startup.h"
#include "framework/application.h"

namespace {

constexpr UINT_PTR kTickTimer = 1;    // the 10 ms timer
constexpr UINT_PTR kIdleTimer = 2;    // ends a wait in the message loop
constexpr UINT kTickMilliseconds = 10;
constexpr UINT kSettleMilliseconds = 250;  // the download's last replies
constexpr UINT kIdleMilliseconds = 2000;

// The window whose timers the benchmark watches.
struct TimerWatch {
    HWND window = nullptr;
    bool ticking = false;
    double last = 0;
    double longestGap = 0;
    long long ticks = 0;
    bool idleOver = false;

    void Start() {
        ticking = true;
        last = qv::bench::Now();
        longestGap = 0;
        SetTimer(window, kTickTimer, kTickMilliseconds, nullptr);
    }
    void Stop() {
        if (!ticking) return;
        Gap();
        ticking = false;
        KillTimer(window, kTickTimer);
    }
    void Tick() {
        Gap();
        ++ticks;
    }
    void Gap() {
        double now = qv::bench::Now();
        if (now - last > longestGap) longestGap = now - last;
        last = now;
    }
};

TimerWatch g_watch;

LRESULT CALLBACK WatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        if (wParam == kTickTimer && g_watch.ticking) g_watch.Tick();
        if (wParam == kIdleTimer) {
            KillTimer(window, kIdleTimer);
            g_watch.idleOver = true;
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

double ProcessorSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

int Run(int argc, char** argv) {
    std::optional<qv::bench::Options> options = qv::bench::ParseOptions(argc, argv, "ftp_client_bench");
    if (!options) return 2;
    const char* remote = options->file;
    const char* out = options->out;

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WatchProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QvBenchTimerWindow";
    RegisterClassA(&windowClass);
    g_watch.window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     windowClass.hInstance, nullptr);
    if (!g_watch.window) {
        std::fprintf(stderr, "ftp_client_bench: CreateWindowEx failed\n");
        return 1;
    }

    qv::Component owner;
    auto* client = new qv::FtpClient(&owner);
    client->SetServerAddress(options->host);
    client->SetWsPort(options->port);
    client->SetUserName(options->user);
    client->SetPassword(options->password);
    client->SetPassiveMode(!options->active);
    client->SetFileType(qv::ftBinary);

    double started = 0, finished = 0;
    long long progress = 0;
    int errorCode = 0;
    std::string errorText;
    bool done = false;
    client->OnFtpStatus = [&](qv::Object*, qv::FtpStatusCode code, const char* text) {
        switch (code) {
            case qv::scLoggedIn:
                g_watch.Start();
                started = qv::bench::Now();
                client->DownloadFile(remote, out, qv::dmReplace);
                break;
            case qv::scProgress: ++progress; break;
            case qv::scTransferComplete:
                finished = qv::bench::Now();
                g_watch.Stop();
                done = true;
                break;
            case qv::scTransferTimedOut:
                errorText = "transfer timed out";
                done = true;
                break;
            case qv::scDisconnected:
            case qv::scLoggedOut:
                if (!done) {
                    errorText = "disconnected";
                    done = true;
                }
                break;
            default: (void)text; break;
        }
    };
    client->OnFtpError = [&](qv::Object*, int32_t code, const char* text) {
        errorCode = code;
        errorText = text ? text : "(socket error)";
        done = true;
    };

    // What the process holds before the download: the share of the peak
    // that does not depend on the file.
    PROCESS_MEMORY_COUNTERS memory = qv::bench::MemoryNow();
    double startupWorkingSet = memory.WorkingSetSize / 1048576.0;
    client->LogIn();
    MSG message;
    while (!done && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    g_watch.Stop();
    long long bytes = client->BytesTransferred();

    // Waits in the message loop, handling what comes.
    auto waitInLoop = [&](UINT ms) {
        g_watch.idleOver = false;
        SetTimer(g_watch.window, kIdleTimer, ms, nullptr);
        while (!g_watch.idleOver && GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    };
    double idleProcessor = -1;
    if (errorText.empty()) {
        waitInLoop(kSettleMilliseconds);
        double before = ProcessorSeconds();
        waitInLoop(kIdleMilliseconds);
        idleProcessor = ProcessorSeconds() - before;
    }
    client->LogOut();

    memory = qv::bench::MemoryNow();

    if (!errorText.empty() || finished == 0) {
        std::fprintf(stderr, "ftp_client_bench: download failed: %d %s\n", errorCode, errorText.c_str());
        return 1;
    }
    double seconds = finished - started;
    const char* mode = options->Mode();
    std::printf("component %s: %lld bytes in %.3f s = %.1f MB/s, %lld progress events, "
                "peak working set %.1f MiB (%.1f MiB before the download), "
                "longest gap of the 10 ms timer %.1f ms (%lld ticks, %u rests of %u ms in all), processor time idle %.1f ms in %u ms "
                "(%.2f s in all)\n",
                mode, bytes, seconds, bytes / seconds / 1e6, progress, memory.PeakWorkingSetSize / 1048576.0,
                startupWorkingSet, g_watch.longestGap * 1e3, g_watch.ticks, client->ReadPacer().Rests(), client->ReadPacer().RestedMs(), idleProcessor * 1e3, kIdleMilliseconds, ProcessorSeconds());
    char extra[96];
    std::snprintf(extra, sizeof extra, " timer_gap_ms=%.1f idle_cpu_ms=%.1f", g_watch.longestGap * 1e3,
                  idleProcessor * 1e3);
    qv::bench::PrintResult(mode, bytes, seconds, -1, progress, memory.PeakWorkingSetSize, extra);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qv::Application::Instance().Initialize();
    qv::CommsBaseStartup base;
    qv::CommsDispatchStartup dispatch;
    qv::CommsPortStartup portUnit;
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ftp_client_bench: %s\n", qv::ExceptionText(e).c_str());
        return 1;
    }
}
