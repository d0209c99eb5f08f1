// The FTP client component and its history log.
//
// CustomFtpClient is a TCP port component whose connection carries the FTP
// control connection. It logs in, changes and reports the server's current
// folder, lists folders and downloads files over a data connection of its
// own (passive or active mode). Every operation returns at once; outcomes
// arrive later as events, always posted to the client's hidden window and
// so run from the message loop of the thread that created the component:
//
//   OnFtpStatus (Sender, StatusCode, InfoText)   InfoText null for "none"
//   OnFtpError  (Sender, ErrorCode, ErrorText)   ErrorText null for "none"
//   OnFtpReply  (Sender, ReplyCode, ReplyText)   every control line, CR LF kept
//   OnFtpLog    (Sender, LogCode)                only while no FtpLog is set
//
// The texts handed to a handler stay valid until it returns; keep a copy to
// use them later.
//
// What the replies mean and when an operation is over is decided by the
// portable FtpEngine (ftp_engine.h); this class is its Win32 side: the
// control connection's port, the data sockets, the local file, the timers
// and the hidden window that delivers the events. A listing or download is
// complete only when its data connection ended and the server confirmed it.
//
// FtpClient publishes the properties (form resources set them by name, and
// bind OnFtpStatus / OnFtpError and the others to handlers of exactly the
// event types below). Its history log, FtpLog, is in ftp_log.h.
//
// Program start-up: CommsBaseStartup, CommsDispatchStartup and
// CommsPortStartup are all the client needs; RegisterFtpClasses() makes
// "FtpClient" and "FtpLog" known to form resources.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "comms/dispatch/comm_socket.h"
#include "comms/ftp/ftp_engine.h"
#include "comms/ftp/ftp_log.h"
#include "comms/ftp/ftp_read_pacer.h"
#include "comms/ftp/ftp_types.h"
#include "comms/port/data_packet.h"
#include "comms/port/winsock_port.h"
#include "framework/files.h"
#include "framework/message_window.h"

namespace qv {

class CustomFtpClient;

using FtpStatusEvent = std::function<void(Object* Sender, FtpStatusCode StatusCode, const char* InfoText)>;
using FtpErrorEvent = std::function<void(Object* Sender, int32_t ErrorCode, const char* ErrorText)>;
using FtpReplyEvent = std::function<void(Object* Sender, int32_t ReplyCode, const char* ReplyText)>;
using FtpLogEvent = std::function<void(Object* Sender, FtpLogCode LogCode)>;

// Messages of the client's hidden window.
inline constexpr OwnedMessage<std::string> MsgFtpStatus{WM_USER + 0x0F01};  // wParam code, the text or none
inline constexpr OwnedMessage<std::string> MsgFtpError{WM_USER + 0x0F02};   // wParam code, the text or none
inline constexpr OwnedMessage<std::string> MsgFtpReply{WM_USER + 0x0F03};   // wParam code, the line
inline constexpr UINT MsgFtpLog = WM_USER + 0x0F04;      // wParam code (7 bits)
inline constexpr UINT MsgFtpTimeout = WM_USER + 0x0F05;  // the transfer timer ran out
inline constexpr UINT MsgFtpReplyTooLong = WM_USER + 0x0F06;  // a reply line with no end in sight
// The connect timer: window timer number 1 of the hidden window.
inline constexpr UINT_PTR kFtpConnectTimerId = 1;
// The pace timer of a download (ftp_read_pacer.h): number 2, every 10 ms
// (the shortest a window timer has) while a download runs.
inline constexpr UINT_PTR kFtpPaceTimerId = 2;
inline constexpr UINT kFtpPaceMilliseconds = 10;
// TransferTimeout's initial value: about 60 s in 55 ms ticks.
inline constexpr int32_t kFtpDefaultTransferTimeout = 1092;
// A download reads at most this much per read notification, and reports
// each block it read as one scProgress. Under the socket library's
// notifications every read costs about the same whatever its size, so the
// size of a block sets the speed.
inline constexpr size_t kFtpDownloadBlockSize = size_t(256) << 10;
// The data socket's receive buffer. Left to the system, it starts small
// and grows only while the reader keeps up, so a download may settle into
// reads far below a block each (on one loopback processor, one run in two
// read about 95 KB at a time, at half the speed); at this size the server
// stays several blocks ahead and each read takes a whole one. A size set
// here replaces the system's own tuning of the TCP window; 2 MiB still
// carries 160 Mbit/s at a 100 ms round trip.
inline constexpr int kFtpDataReceiveBuffer = 2 << 20;

class CustomFtpClient : public CustomWinsockPort, public FtpHistorySource, private FtpEngineLink {
public:
    explicit CustomFtpClient(Component* owner);
    // Closes the data connection, the local file and the control
    // connection while the client is whole; no status, error or reply is
    // reported from here on.
    void BeforeDestruction() override;
    std::string ClassName() const override { return "CustomFtpClient"; }

    // ---- operations (all return at once) ----
    // False when already logged in. Otherwise opens the connection (the
    // port's errors, such as an unknown host, are raised to the caller) or,
    // while logging in, sends "USER " again. A connection attempt that
    // fails is reported as OnFtpError with the socket error number.
    bool LogIn() {
        Use use(*this);
        return engine_.LogIn();
    }
    // Sends "QUIT" when connected, handles messages for five ticks, closes.
    // Result: the connection was open.
    bool LogOut() {
        Use use(*this);
        return engine_.LogOut();
    }
    // Only when Ready: "CWD " + folder ("PWD" for an empty folder).
    bool ChangeFolder(const std::string& folder) {
        Use use(*this);
        return engine_.ChangeFolder(folder);
    }
    // Only when Ready: "PWD".
    bool QueryFolder() {
        Use use(*this);
        return engine_.QueryFolder();
    }
    // Only when Ready: "LIST" (full) or "NLST" of the folder (the current
    // one when empty) over a data connection; the text arrives as
    // scInfoText. Result: the data connection could be prepared.
    bool ListFolder(const std::string& folder, bool full) {
        Use use(*this);
        return engine_.ListFolder(folder, full);
    }
    // Only when Ready and both names are given. Raises the runtime's file
    // error when the local file cannot be opened (the client stays Ready).
    // scTransferComplete follows only when the data connection ended and
    // the server confirmed the transfer; any failure gives one OnFtpError.
    bool DownloadFile(const std::string& remoteName, const std::string& localName, FtpDownloadMode mode) {
        Use use(*this);
        return engine_.DownloadFile(remoteName, localName, mode);
    }
    // Only while an operation runs: "ABOR".
    bool AbortTransfer() {
        Use use(*this);
        return engine_.AbortTransfer();
    }
    // True in every state but Unconnected.
    bool IsConnected() const { return engine_.IsConnected(); }
    // Logged in with no operation under way: an operation would start now.
    bool IsReady() const { return engine_.State() == FtpState::Ready; }

    // ---- properties (ServerAddress and WsPort come from the TCP port) ----
    const std::string& Account() const { return engine_.Settings().Account; }
    void SetAccount(const std::string& value) { engine_.Settings().Account = value; }
    int32_t ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int32_t value) { connectTimeout_ = value; }
    FtpFileType FileType() const { return engine_.Settings().FileType; }
    void SetFileType(FtpFileType value) { engine_.Settings().FileType = value; }
    // The history log; setting it also sets the log's FtpClient to this.
    FtpLog* GetFtpLog() const override { return ftpLog_; }
    void SetFtpLog(FtpLog* value) override;
    const std::string& Password() const { return engine_.Settings().Password; }
    void SetPassword(const std::string& value) { engine_.Settings().Password = value; }
    bool PassiveMode() const { return engine_.Settings().PassiveMode; }
    void SetPassiveMode(bool value) { engine_.Settings().PassiveMode = value; }
    int32_t TransferTimeout() const { return transferTimeout_; }
    void SetTransferTimeout(int32_t value) { transferTimeout_ = value; }
    const std::string& UserName() const { return engine_.Settings().UserName; }
    void SetUserName(const std::string& value) { engine_.Settings().UserName = value; }
    // Bytes received in the current listing or download.
    int32_t BytesTransferred() const { return engine_.BytesTransferred(); }
    int32_t RestartOffset() const { return engine_.RestartOffset(); }
    void SetRestartOffset(int32_t value) { engine_.SetRestartOffset(value); }

    FtpErrorEvent OnFtpError;
    FtpLogEvent OnFtpLog;
    FtpReplyEvent OnFtpReply;
    FtpStatusEvent OnFtpStatus;
    // Every state transition ("[Downloading] -> [Ready] (226)") and every
    // reply taken for an operation that had ended, as it happens; for
    // diagnostics and tests.
    std::function<void(const std::string& line)> OnEngineTrace;

    // ---- state for the history log, tests and diagnostics ----
    // What a history line quotes: the server, the user, the names of the
    // last download, its bytes and restart offset.
    FtpHistoryValues HistoryValues() const override;
    FtpState ProcessState() const { return engine_.State(); }
    bool LoggedIn() const { return engine_.LoggedIn(); }
    bool AbortFlag() const { return engine_.AbortFlag(); }
    // Of the last download started.
    const std::string& RemoteFileName() const { return engine_.RemoteFileName(); }
    const std::string& LocalFileName() const { return engine_.LocalFileName(); }
    int CommandCount() const { return engine_.CommandCount(); }
    const char* ReplyText() const { return engine_.Reply().Text(); }
    HWND EventWindow() const { return window_.Handle(); }
    DataPacket* ReplyPacket() const { return replyPacket_; }
    CommSocket* DataSocketComponent() const { return dataSocket_; }
    SocketHandle DataSocket() const { return dataHandle_.Get(); }
    SocketHandle ListeningSocket() const { return listenHandle_.Get(); }
    bool LocalFileOpen() const { return localFile_.Valid(); }
    int32_t TransferTimerHandle() const { return transferTimer_; }
    // The current (or last) download's pacing: how often it rested so that
    // the thread's other messages got their turn.
    const FtpReadPacer& ReadPacer() const { return pacer_; }
    bool PaceTimerRunning() const { return paceTimerRunning_; }

    void Notification(Component* component, Operation operation) override;

protected:
    void ConnectEvent() override;
    void DisconnectEvent() override;
    void ErrorEvent(int32_t errorCode) override;

private:
    // ---- FtpEngineLink ----
    bool ControlOpen() override;
    bool OpenControl() override;
    void CloseControl() override;
    void WriteLine(const std::string& command) override;
    void Pause(int32_t ticks) override;
    void StartTransferTimer() override;
    void RefreshTransferTimer() override;
    void StopTransferTimer() override;
    void StartConnectTimer() override;
    void StopConnectTimer() override;
    void PostTimeout() override;
    void OpenLocalFile(const std::string& name, FtpDownloadMode mode, int32_t& restartOffset) override;
    FtpDataPrepared PrepareData(bool passive) override;
    void ConnectData(uint16_t port) override;
    void CloseData(bool complete) override;
    std::string ListingText() override;
    bool ReplyLinePending() override;
    void KeepArrivedData() override;
    void PostStatus(FtpStatusCode code, const char* text) override;
    void PostError(int32_t code, const char* text) override;
    void PostLog(FtpLogCode code) override;
    void FireStatus(FtpStatusCode code) override;
    void FireError(int32_t code) override;
    void Trace(std::string_view line) override;

    // ---- control connection ----
    void ReplyReader(Object* sender, const std::string& line);
    void TimerHandler(UINT msg, WPARAM wParam, LPARAM lParam);

    // ---- data connection ----
    FtpDataPrepared PrepareSteps(bool passive);
    static void SetReceiveBuffer(SocketHandle s);
    int32_t ReadDataOnce();
    void CloseSockets();
    void ReleaseLocalFile(bool complete);
    void DataAccept(Object* sender, SocketHandle s);
    void DataClose(Object* sender, SocketHandle s);
    void DataError(Object* sender, SocketHandle s, int32_t errorCode);
    void DataRead(Object* sender, SocketHandle s);
    void StartPaceTimer();
    void StopPaceTimer();
    void PaceTimer();

    FtpEngine engine_{*this};

    // Properties the engine does not need.
    int32_t connectTimeout_ = 0;
    FtpLog* ftpLog_ = nullptr;
    int32_t transferTimeout_ = kFtpDefaultTransferTimeout;

    int32_t transferTimer_ = 0;
    bool connectTimerRunning_ = false;
    // The hidden window the events are posted to ("commFtpWindow").
    MessageWindow window_{L"commFtpWindow", this};
    // Owned components (freed with the client).
    DataPacket* replyPacket_ = nullptr;

    // Data connection.
    CommSocket* dataSocket_ = nullptr;
    OwnedSocket dataHandle_;
    OwnedSocket listenHandle_;
    sockaddr_in localAddress_{};
    sockaddr_in acceptAddress_{};
    // Active mode: the control connection's peer, the only host whose data
    // connection is taken (network order).
    uint32_t serverAddress_ = 0;
    // The listing text, which may grow beyond one block (always
    // zero-terminated inside it).
    std::vector<char> dataBuffer_;
    // One block of a download (kFtpDownloadBlockSize bytes), made with the
    // first download.
    std::unique_ptr<char[]> downloadBlock_;
    FtpReadPacer pacer_;
    bool paceTimerRunning_ = false;
    OwnedFile localFile_;
    bool replacing_ = false;
    // The client is closing its own sockets: their failures are not reported.
    bool closingSockets_ = false;
};

class FtpClient : public CustomFtpClient {
public:
    explicit FtpClient(Component* owner) : CustomFtpClient(owner) {}
    std::string ClassName() const override { return "FtpClient"; }

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override;
};

// Makes "FtpClient" and "FtpLog" known to form resources (once per
// process; calling again is harmless).
void RegisterFtpClasses();

}  // namespace qv
