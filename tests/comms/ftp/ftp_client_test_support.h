// An FTP client under test: every event it delivers is recorded with the
// state the client was in when the handler ran, and the test waits for
// events by pumping the thread's messages (the client does all its work
// from the message loop).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "comms/base/comm_misc.h"
#include "comms/ftp/ftp_client.h"
#include "tests/comms/dispatch/win_test_support.h"
#include "tests/support/peer_scripts.h"

namespace qv::test {

struct FtpEvent {
    enum Kind { Status, Error, Reply, Log };
    Kind kind;
    int32_t code;
    std::optional<std::string> text;  // none when the handler got a null text
    FtpState state;                   // the client's state inside the handler
};

inline std::string Describe(const FtpEvent& e) {
    std::ostringstream out;
    switch (e.kind) {
        case FtpEvent::Status: out << "status " << FtpStatusName(e.code); break;
        case FtpEvent::Error: out << "error " << e.code; break;
        case FtpEvent::Reply: out << "reply " << e.code; break;
        case FtpEvent::Log: out << "log " << e.code; break;
    }
    if (e.text) {
        std::string t = e.text->substr(0, 60);
        for (char& c : t)
            if (c == '\r' || c == '\n') c = '|';
        out << " \"" << t << "\"";
    }
    return out.str();
}

class RecordedClient {
public:
    RecordedClient() {
        client = new FtpClient(&owner);
        client->SetName("FtpClient1");
        client->OnFtpStatus = [this](Object* sender, FtpStatusCode code, const char* text) {
            Record(sender, FtpEvent::Status, code, text);
        };
        client->OnFtpError = [this](Object* sender, int32_t code, const char* text) {
            Record(sender, FtpEvent::Error, code, text);
        };
        client->OnFtpReply = [this](Object* sender, int32_t code, const char* text) {
            Record(sender, FtpEvent::Reply, code, text);
        };
        client->OnFtpLog = [this](Object* sender, FtpLogCode code) { Record(sender, FtpEvent::Log, code, nullptr); };
    }
    ~RecordedClient() {
        onEvent = nullptr;
        Free(client);
    }

    // Points the client at a server on 127.0.0.1 with the peers' account.
    void Target(uint16_t port, const std::string& user = "test", const std::string& password = "secret") {
        client->SetServerAddress("127.0.0.1");
        client->SetWsPort(std::to_string(port));
        client->SetUserName(user);
        client->SetPassword(password);
    }

    // ---- waiting ----
    bool WaitFor(const std::function<bool()>& done, DWORD ms = 10000) { return PumpUntil(done, ms); }
    // Waits for an event of that kind and code recorded at or after `from`.
    bool WaitEvent(FtpEvent::Kind kind, int32_t code, size_t from = 0, DWORD ms = 10000) {
        return WaitFor([&] { return Find(kind, code, from).has_value(); }, ms);
    }
    bool WaitStatus(FtpStatusCode code, size_t from = 0, DWORD ms = 10000) {
        return WaitEvent(FtpEvent::Status, code, from, ms);
    }
    bool WaitError(size_t from = 0, DWORD ms = 10000) {
        return WaitFor([&] { return Count(FtpEvent::Error, from) > 0; }, ms);
    }
    // Logs in and waits for scLoggedIn.
    bool LogInAndWait(DWORD ms = 15000) {
        size_t from = events.size();
        if (!client->LogIn()) return false;
        return WaitStatus(scLoggedIn, from, ms) && client->ProcessState() == FtpState::Ready;
    }
    // Logs out and lets the reports of the close arrive.
    void LogOutAndSettle() {
        client->LogOut();
        PumpFor(100);
    }

    // ---- looking ----
    std::optional<size_t> Find(FtpEvent::Kind kind, int32_t code, size_t from = 0) const {
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].kind == kind && events[i].code == code) return i;
        return std::nullopt;
    }
    int Count(FtpEvent::Kind kind, size_t from = 0) const {
        return static_cast<int>(std::count_if(events.begin() + static_cast<std::ptrdiff_t>(std::min(from, events.size())),
                                              events.end(), [&](const FtpEvent& e) { return e.kind == kind; }));
    }
    int Count(FtpEvent::Kind kind, int32_t code, size_t from = 0) const {
        return static_cast<int>(std::count_if(events.begin() + static_cast<std::ptrdiff_t>(std::min(from, events.size())),
                                              events.end(),
                                              [&](const FtpEvent& e) { return e.kind == kind && e.code == code; }));
    }
    // The statuses (other than scProgress) from `from` on, in order.
    std::vector<int> Statuses(size_t from = 0) const {
        std::vector<int> out;
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].kind == FtpEvent::Status && events[i].code != scProgress) out.push_back(events[i].code);
        return out;
    }
    // The kinds and codes without replies and progress, for sequences.
    std::vector<std::string> Sequence(size_t from = 0) const {
        std::vector<std::string> out;
        for (size_t i = from; i < events.size(); ++i) {
            const FtpEvent& e = events[i];
            if (e.kind == FtpEvent::Reply || (e.kind == FtpEvent::Status && e.code == scProgress)) continue;
            out.push_back(e.kind == FtpEvent::Status  ? FtpStatusName(e.code)
                          : e.kind == FtpEvent::Error ? "error " + std::to_string(e.code)
                                                      : "log " + std::to_string(e.code));
        }
        return out;
    }
    std::string History() const {
        std::string out;
        for (const FtpEvent& e : events) out += "  " + Describe(e) + "\n";
        return out;
    }

    Component owner;
    FtpClient* client = nullptr;
    std::vector<FtpEvent> events;
    std::vector<Object*> senders;
    // Runs after each event is recorded (to react as an application would).
    std::function<void(const FtpEvent&)> onEvent;

private:
    void Record(Object* sender, FtpEvent::Kind kind, int32_t code, const char* text) {
        senders.push_back(sender);
        events.push_back({kind, code, text ? std::optional<std::string>(text) : std::nullopt, client->ProcessState()});
        if (onEvent) onEvent(events.back());
    }
};

// A file's whole content ("" when it cannot be read).
inline std::string FileContent(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
    CloseHandle(f);
    return data;
}

inline void WriteFileContent(const std::string& path, const std::string& data) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(f);
}

// Whether a file can be opened for writing with no sharing (fails while
// the client still holds it).
inline bool FileReleased(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    CloseHandle(f);
    return true;
}

// A fresh folder for a test's local files, removed with its files.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        static int counter = 0;
        path_ = std::string(base) + "qvftp" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = data.cFileName;
                if (name != "." && name != "..") DeleteFileA((path_ + "\\" + name).c_str());
            } while (FindNextFileA(find, &data));
            FindClose(find);
        }
        RemoveDirectoryA(path_.c_str());
    }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace qv::test
