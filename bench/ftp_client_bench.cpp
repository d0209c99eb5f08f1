// The FTP client component's download benchmark: one large file fetched
// with FtpClient exactly as the upgrade run fetches its files (log in,
// DownloadFile in replace mode, every block reported as scProgress), in
// passive or active mode, driven by the thread's message loop.
//
// Usage: ftp_client_bench --port N --user NAME --password TEXT --file REMOTE
//                         --out LOCAL [--active] [--host ADDRESS]
// Prints a readable line and a line for scripts (the same as ftp_ceiling's):
//   RESULT mode=passive bytes=N seconds=S close_seconds=C reads=R peak_working_set=B
// where seconds runs from DownloadFile until scTransferComplete reaches its
// handler (the component has closed the local file by then), reads counts
// the scProgress events (one per block received) and close_seconds is -1:
// the component closes its file itself, so that time is not measured apart.
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

int Run(int argc, char** argv) {
    std::optional<qv::bench::Options> options = qv::bench::ParseOptions(argc, argv, "ftp_client_bench");
    if (!options) return 2;
    const char* remote = options->file;
    const char* out = options->out;

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
                started = qv::bench::Now();
                client->DownloadFile(remote, out, qv::dmReplace);
                break;
            case qv::scProgress: ++progress; break;
            case qv::scTransferComplete:
                finished = qv::bench::Now();
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
    long long bytes = client->BytesTransferred();
    client->LogOut();

    memory = qv::bench::MemoryNow();

    if (!errorText.empty() || finished == 0) {
        std::fprintf(stderr, "ftp_client_bench: download failed: %d %s\n", errorCode, errorText.c_str());
        return 1;
    }
    double seconds = finished - started;
    const char* mode = options->Mode();
    std::printf("component %s: %lld bytes in %.3f s = %.1f MB/s, %lld progress events, "
                "peak working set %.1f MiB (%.1f MiB before the download)\n",
                mode, bytes, seconds, bytes / seconds / 1e6, progress, memory.PeakWorkingSetSize / 1048576.0,
                startupWorkingSet);
    qv::bench::PrintResult(mode, bytes, seconds, -1, progress, memory.PeakWorkingSetSize);
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
