// The peer of the FTP download benchmark: the same file fetched with the
// system's own FTP client (WinINet), the way a Windows developer would use
// it: InternetOpen, InternetConnect with INTERNET_SERVICE_FTP (passive or
// active mode), FtpOpenFile, then InternetReadFile in a loop writing every
// buffer to the local file. Blocking calls on the main thread; no window.
//
// The file is fetched, never taken from the system's internet cache (Wine's
// client still keeps a copy of it there; see kNoCache).
//
// Usage: ftp_system_client --port N --user NAME --password TEXT --file REMOTE
//                          --out LOCAL [--active] [--host ADDRESS]
//                          [--buffer BYTES] [--get]
// --buffer sets InternetReadFile's buffer (default 65536); --get fetches
// with FtpGetFile instead of the loop (the system's own copy loop).
// Prints a readable line and the RESULT line of the other benchmark
// programs, where seconds runs from FtpOpenFile (or FtpGetFile) until the
// server's final reply is in and the local file is closed, and reads counts
// the InternetReadFile calls that returned data (0 with --get).
// Exit status 0 when the transfer ended without an error, else 1 (bench/run
// compares the file with the served one).

#include <windows.h>
#include <wininet.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_common.h"

namespace {

// Fetched from the server, not kept in the system's internet cache. Wine's
// client keeps a copy of every file it reads there all the same (in the
// prefix's INetCache folder, whatever the flags say): under Wine the peer
// writes every byte twice, and bench/run deletes those copies.
constexpr DWORD kNoCache = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// The internet handles, closed in reverse order of opening.
struct InternetHandle {
    HINTERNET h = nullptr;
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : h(handle) {}
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    ~InternetHandle() { Close(); }
    void Close() {
        if (h) InternetCloseHandle(h);
        h = nullptr;
    }
};

int Fail(const char* what) {
    DWORD error = GetLastError();
    char detail[512] = "";
    DWORD code = 0, length = sizeof detail;
    // The server's last reply, when the failure came from one.
    if (error == ERROR_INTERNET_EXTENDED_ERROR) InternetGetLastResponseInfoA(&code, detail, &length);
    std::fprintf(stderr, "ftp_system_client: %s failed: error %lu %s\n", what, static_cast<unsigned long>(error),
                 detail);
    return 1;
}

int Run(int argc, char** argv) {
    // The options of this program alone; the others are the shared ones.
    DWORD bufferSize = 65536;
    bool get = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--get") == 0) get = true;
        if (std::strcmp(argv[i], "--buffer") == 0 && i + 1 < argc)
            bufferSize = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
    }
    if (bufferSize == 0) {
        std::fprintf(stderr, "ftp_system_client: --buffer needs a positive number\n");
        return 2;
    }
    std::optional<qv::bench::Options> options = qv::bench::ParseOptions(argc, argv, "ftp_system_client");
    if (!options) return 2;

    InternetHandle session(InternetOpenA("QvBench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session.h) return Fail("InternetOpen");
    InternetHandle connection(InternetConnectA(session.h, options->host,
                                               static_cast<INTERNET_PORT>(std::atoi(options->port)), options->user,
                                               options->password, INTERNET_SERVICE_FTP,
                                               options->active ? 0 : INTERNET_FLAG_PASSIVE, 0));
    if (!connection.h) return Fail("InternetConnect");

    long long bytes = 0, reads = 0;
    double started = qv::bench::Now(), received = 0;
    if (get) {
        if (!FtpGetFileA(connection.h, options->file, options->out, FALSE, FILE_ATTRIBUTE_NORMAL,
                         FTP_TRANSFER_TYPE_BINARY | kNoCache, 0))
            return Fail("FtpGetFile");
        received = qv::bench::Now();
        WIN32_FILE_ATTRIBUTE_DATA attributes{};
        if (GetFileAttributesExA(options->out, GetFileExInfoStandard, &attributes))
            bytes = (static_cast<long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    } else {
        HANDLE file = CreateFileA(options->out, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file == INVALID_HANDLE_VALUE) return Fail("CreateFile");
        char* buffer = new char[bufferSize];
        InternetHandle remote(FtpOpenFileA(connection.h, options->file, GENERIC_READ,
                                           FTP_TRANSFER_TYPE_BINARY | kNoCache, 0));
        bool ok = remote.h != nullptr;
        if (!ok) Fail("FtpOpenFile");
        while (ok) {
            DWORD n = 0;
            if (!InternetReadFile(remote.h, buffer, bufferSize, &n)) {
                ok = false;
                Fail("InternetReadFile");
                break;
            }
            if (n == 0) break;
            DWORD written = 0;
            if (!WriteFile(file, buffer, n, &written, nullptr) || written != n) {
                ok = false;
                Fail("WriteFile");
                break;
            }
            bytes += n;
            ++reads;
        }
        // Closing the remote file reads the server's final reply.
        remote.Close();
        received = qv::bench::Now();
        CloseHandle(file);
        delete[] buffer;
        if (!ok) return 1;
    }
    double closed = qv::bench::Now();
    connection.Close();
    session.Close();

    PROCESS_MEMORY_COUNTERS memory = qv::bench::MemoryNow();
    double seconds = closed - started;
    const char* mode = options->Mode();
    std::printf("system client %s (%s): %lld bytes in %.3f s (file close %.3f s) = %.1f MB/s, %lld reads, "
                "peak working set %.1f MiB\n",
                mode, get ? "FtpGetFile" : "InternetReadFile", bytes, seconds, closed - received,
                bytes / seconds / 1e6, reads, memory.PeakWorkingSetSize / 1048576.0);
    qv::bench::PrintResult(mode, bytes, seconds, get ? -1 : closed - received, reads, memory.PeakWorkingSetSize);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ftp_system_client: %s\n", e.what());
        return 1;
    }
}
