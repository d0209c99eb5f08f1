// The ceiling of the FTP download benchmark, kept as a second reference: the
// fastest download that the client's old receive rule allowed (one recv of at
// most 32,769 bytes per read notification), measured with plain Winsock.
//
// The control connection is blocking (its few replies cost nothing); the data
// connection follows that rule exactly: asynchronous notifications to a
// message-only window (WSAAsyncSelect), one recv of at most 32,769 bytes per
// read notification, each block written straight to the local file, and on
// close the rest drained into the file. Any FTP client built on that rule
// could at best come near this figure.
//
// Usage: ftp_ceiling --port N --user NAME --password TEXT --file REMOTE
//                    --out LOCAL [--active] [--host ADDRESS]
// Prints a readable line and a line for scripts:
//   RESULT mode=passive bytes=N seconds=S close_seconds=C reads=R peak_working_set=B
// where seconds runs from sending RETR until the local file is closed.
// Exit status 0 when the whole file arrived (by the server's SIZE), else 1.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_common.h"
#include "comms/ftp/ftp_reply.h"
#include "tests/support/ftp_test_servers.h"

namespace {

using qv::test::BlockingFtpControl;

constexpr UINT kSocketMessage = WM_APP + 1;
constexpr int kBlockSize = static_cast<int>(qv::kFtpBufferSize);  // 32,769

struct Transfer {
    HANDLE file = INVALID_HANDLE_VALUE;
    SOCKET listener = INVALID_SOCKET;
    SOCKET data = INVALID_SOCKET;
    char* buffer = nullptr;
    long long bytes = 0;
    long long reads = 0;
    int error = 0;
    bool done = false;
};

Transfer* g_transfer = nullptr;

// One receive and its write; the number of bytes received (0 or less: none).
int ReadOnce(Transfer& t) {
    int n = recv(t.data, t.buffer, kBlockSize, 0);
    if (n > 0) {
        DWORD written = 0;
        if (!WriteFile(t.file, t.buffer, static_cast<DWORD>(n), &written, nullptr) ||
            written != static_cast<DWORD>(n)) {
            t.error = static_cast<int>(GetLastError());
            t.done = true;
            return 0;
        }
        t.bytes += n;
        ++t.reads;
    }
    return n;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kSocketMessage || g_transfer == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    Transfer& t = *g_transfer;
    SOCKET s = static_cast<SOCKET>(wParam);
    int event = WSAGETSELECTEVENT(lParam);
    int error = WSAGETSELECTERROR(lParam);
    if (error != 0 && !t.done) {
        t.error = error;
        t.done = true;
        return 0;
    }
    switch (event) {
    case FD_ACCEPT:
        if (s == t.listener && t.data == INVALID_SOCKET) t.data = accept(t.listener, nullptr, nullptr);
        break;
    case FD_READ:
        // Read notifications keep coming after the data is drained; each one
        // then finds nothing, which is normal.
        if (s == t.data && !t.done) ReadOnce(t);
        break;
    case FD_CLOSE:
        if (s == t.data && !t.done) {
            while (ReadOnce(t) > 0) {
            }
            t.done = true;
        }
        break;
    default:
        break;
    }
    return 0;
}

int Run(int argc, char** argv) {
    std::optional<qv::bench::Options> options = qv::bench::ParseOptions(argc, argv, "ftp_ceiling");
    if (!options) return 2;
    const char* user = options->user;
    const char* password = options->password;
    const char* remote = options->file;
    const char* out = options->out;
    bool active = options->active;

    BlockingFtpControl control(static_cast<uint16_t>(std::atoi(options->port)), options->host);
    control.LogIn(user, password);
    control.Expect("TYPE I", 200);
    long long expected = -1;
    BlockingFtpControl::Reply size = control.Command(std::string("SIZE ") + remote);
    if (size.code == 213) expected = std::atoll(size.text.c_str() + 4);

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QvBenchSocketWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window) throw qv::test::TestServerError("CreateWindowEx failed");

    Transfer t;
    t.buffer = new char[kBlockSize];
    t.file = CreateFileA(out, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (t.file == INVALID_HANDLE_VALUE) throw qv::test::TestServerError(std::string("cannot create ") + out);
    g_transfer = &t;

    if (active) {
        sockaddr_in address = control.LocalAddress();
        address.sin_port = 0;
        t.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        WSAAsyncSelect(t.listener, window, kSocketMessage, FD_ACCEPT | FD_READ | FD_CLOSE);
        bind(t.listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        getsockname(t.listener, reinterpret_cast<sockaddr*>(&address), &length);
        listen(t.listener, 5);
        const auto* port = reinterpret_cast<const uint8_t*>(&address.sin_port);
        control.Expect("PORT " + qv::FtpPortArgument(inet_ntoa(address.sin_addr), port[0], port[1]), 200);
    } else {
        BlockingFtpControl::Reply pasv = control.Expect("PASV", 227);
        qv::FtpPassiveAddress passive = qv::FtpParsePassiveAddress(pasv.text);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = inet_addr(passive.host.c_str());
        to.sin_port = htons(passive.port);
        t.data = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        WSAAsyncSelect(t.data, window, kSocketMessage, FD_CONNECT | FD_READ | FD_CLOSE);
        connect(t.data, reinterpret_cast<sockaddr*>(&to), sizeof to);  // completes in the background
    }

    double started = qv::bench::Now();
    BlockingFtpControl::Reply retr = control.Command(std::string("RETR ") + remote);
    if (retr.code != 125 && retr.code != 150)
        throw qv::test::TestServerError("RETR answered " + retr.text);

    MSG message;
    while (!t.done && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    double received = qv::bench::Now();
    CloseHandle(t.file);
    double closed = qv::bench::Now();
    g_transfer = nullptr;
    if (t.data != INVALID_SOCKET) closesocket(t.data);
    if (t.listener != INVALID_SOCKET) closesocket(t.listener);
    delete[] t.buffer;
    DestroyWindow(window);

    BlockingFtpControl::Reply end = control.Read();
    control.Command("QUIT");

    PROCESS_MEMORY_COUNTERS memory = qv::bench::MemoryNow();

    double seconds = closed - started;
    const char* mode = options->Mode();
    std::printf("ceiling %s: %lld bytes in %.3f s (file close %.3f s) = %.1f MB/s, %lld reads, "
                "peak working set %.1f MiB, server said %d\n",
                mode, t.bytes, seconds, closed - received, t.bytes / seconds / 1e6, t.reads,
                memory.PeakWorkingSetSize / 1048576.0, end.code);
    qv::bench::PrintResult(mode, t.bytes, seconds, closed - received, t.reads, memory.PeakWorkingSetSize);
    if (t.error != 0) {
        std::fprintf(stderr, "data connection failed: error %d\n", t.error);
        return 1;
    }
    if (expected >= 0 && t.bytes != expected) {
        std::fprintf(stderr, "received %lld bytes, the server's size is %lld\n", t.bytes, expected);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ftp_ceiling: %s\n", e.what());
        return 1;
    }
}
