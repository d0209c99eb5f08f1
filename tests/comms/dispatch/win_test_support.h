// Helpers of the Win32 tests of the dispatch layer: a message pump that
// waits without spinning, a stand-in for the owning port's window, exception
// reports captured instead of shown, and loopback peers made with the
// platform's socket library directly (test code only).
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "comms/dispatch/comm_socket.h"
#include "comms/dispatch/dispatcher.h"
#include "framework/application.h"
#include "framework/message_window.h"
#include "tests/comms/dispatch/test_bytes.h"

namespace qv::test {

// A file in the system's temporary folder.
inline std::string TempPath(const std::string& name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

// A file's bytes, empty when it cannot be read.
inline std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Handles every pending message.
inline void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Pumps messages until done() or the time is up; sleeps in between.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    for (;;) {
        PumpPending();
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

inline void PumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

// Exception reports of window procedures and deliveries, collected.
class ReportCapture {
public:
    ReportCapture() {
        Application::Instance().OnExceptionReport = [this](const std::string& text) { reports.push_back(text); };
    }
    ~ReportCapture() { Application::Instance().OnExceptionReport = nullptr; }
    std::vector<std::string> reports;
};

// Stands in for the owning port: a message-only window that records the
// device socket's reports and the finished deferred close, and answers a
// waiting peer as told.
class RecordingOwner : public DispatcherOwner {
public:
    struct Message {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    RecordingOwner() {
        window_.SetFallback([this](UINT msg, WPARAM wParam, LPARAM lParam) { return Record(msg, wParam, lParam); });
    }
    HWND DispatcherOwnerWindow() const override { return window_.Handle(); }
    HWND Window() const { return window_.Handle(); }

    std::vector<Message> messages;
    LRESULT acceptAnswer = 1;
    // Runs for every MsgSocketEvent after it is recorded.
    std::function<void(WPARAM, LPARAM)> onSocketEvent;
    // Runs for trigger messages when the window is a handler.
    std::function<void(UINT, WPARAM, LPARAM)> onTrigger;

    int Count(UINT msg, WPARAM wParam) const {
        int n = 0;
        for (const Message& m : messages) n += m.msg == msg && m.wParam == wParam;
        return n;
    }
    int Count(UINT msg) const {
        int n = 0;
        for (const Message& m : messages) n += m.msg == msg;
        return n;
    }

private:
    LRESULT Record(UINT msg, WPARAM wParam, LPARAM lParam) {
        bool trigger = msg >= MsgTriggerAvail && msg <= MsgTriggerStatus;
        if (msg != MsgSocketEvent && msg != MsgPortDeferredClose && !trigger)
            return DefWindowProcW(window_.Handle(), msg, wParam, lParam);
        messages.push_back({msg, wParam, lParam});
        if (msg == MsgSocketEvent) {
            if (onSocketEvent) onSocketEvent(wParam, lParam);
            return wParam == kReportPeerWaiting ? acceptAnswer : 0;
        }
        if (trigger && onTrigger) onTrigger(msg, wParam, lParam);
        return 0;
    }

    MessageWindow window_{L"qvTestOwner", nullptr};
};

// ---- loopback peers ----------------------------------------------------

class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(SOCKET s) : s_(s) {}
    RawSocket(RawSocket&& o) noexcept : s_(o.s_) { o.s_ = INVALID_SOCKET; }
    RawSocket& operator=(RawSocket&& o) noexcept {
        Close();
        s_ = o.s_;
        o.s_ = INVALID_SOCKET;
        return *this;
    }
    ~RawSocket() { Close(); }
    SOCKET Get() const { return s_; }
    bool Valid() const { return s_ != INVALID_SOCKET; }
    void Close() {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
        s_ = INVALID_SOCKET;
    }

private:
    SOCKET s_ = INVALID_SOCKET;
};

inline uint32_t LoopbackAddress() { return htonl(INADDR_LOOPBACK); }

// A listening socket on 127.0.0.1 and a free port.
inline RawSocket ListenOnLoopback(uint16_t& port) {
    RawSocket s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = LoopbackAddress();
    ::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(s.Get(), 5);
    int len = sizeof a;
    ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return s;
}

// A port on which nothing listens (found by listening and closing).
inline uint16_t UnusedLoopbackPort() {
    uint16_t port = 0;
    RawSocket s = ListenOnLoopback(port);
    return port;
}

inline bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval zero{0, 0};
    return ::select(0, &set, nullptr, nullptr, &zero) == 1;
}

// Accepts a waiting connection, pumping messages while waiting.
inline RawSocket AcceptPeer(SOCKET listener, DWORD timeoutMs = 5000) {
    if (!PumpUntil([&] { return Readable(listener); }, timeoutMs)) return RawSocket();
    RawSocket peer(::accept(listener, nullptr, nullptr));
    u_long nonBlocking = 1;
    ::ioctlsocket(peer.Get(), FIONBIO, &nonBlocking);
    return peer;
}

inline RawSocket ConnectPeer(uint16_t port) {
    RawSocket s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = LoopbackAddress();
    if (::connect(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return RawSocket();
    u_long nonBlocking = 1;
    ::ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
    return s;
}

inline void SendRaw(SOCKET s, const Bytes& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        int n = ::send(s, reinterpret_cast<const char*>(bytes.data()) + at, static_cast<int>(bytes.size() - at), 0);
        if (n > 0) at += static_cast<size_t>(n);
        else PumpFor(5);
    }
}

// Reads until `count` bytes arrived (or the time is up), pumping messages.
inline Bytes ReceiveRaw(SOCKET s, size_t count, DWORD timeoutMs = 5000) {
    Bytes got;
    PumpUntil(
        [&] {
            char buffer[4096];
            int n;
            while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0) got.insert(got.end(), buffer, buffer + n);
            return got.size() >= count;
        },
        timeoutMs);
    return got;
}

// True once the peer has closed its side (recv gives 0).
inline bool PeerClosed(SOCKET s, DWORD timeoutMs = 5000) {
    return PumpUntil(
        [&] {
            char buffer[256];
            int n = ::recv(s, buffer, sizeof buffer, 0);
            return n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
        },
        timeoutMs);
}

}  // namespace qv::test
