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
// FtpClient publishes the properties (form resources set them by name, and
// bind OnFtpStatus / OnFtpError and the others to handlers of exactly the
// event types below). FtpLog appends one line per log code to a history
// file while Enabled.
//
// Program start-up: CommsBaseUnit, CommsDispatchUnit and CommsPortUnit are
// all the client needs; RegisterFtpClasses() makes "FtpClient" and "FtpLog"
// known to form resources.
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
#include "comms/ftp/ftp_command_queue.h"
#include "comms/ftp/ftp_history_text.h"
#include "comms/ftp/ftp_reply.h"
#include "comms/ftp/ftp_types.h"
#include "comms/port/data_packet.h"
#include "comms/port/winsock_port.h"

namespace qv {

class CustomFtpClient;
class FtpLog;

using FtpStatusEvent = std::function<void(Object* Sender, FtpStatusCode StatusCode, const char* InfoText)>;
using FtpErrorEvent = std::function<void(Object* Sender, int32_t ErrorCode, const char* ErrorText)>;
using FtpReplyEvent = std::function<void(Object* Sender, int32_t ReplyCode, const char* ReplyText)>;
using FtpLogEvent = std::function<void(Object* Sender, FtpLogCode LogCode)>;

// What the client is doing; only the order of the values matters ("logged
// in" is Ready or any state after it).
enum class FtpState : uint8_t { Unconnected, LoggingIn, Ready, Listing, Downloading, FolderCommand };

// Messages of the client's hidden window.
inline constexpr UINT MsgFtpStatus = WM_USER + 0x0F01;   // wParam code, lParam text copy or 0
inline constexpr UINT MsgFtpError = WM_USER + 0x0F02;    // wParam code, lParam text copy or 0
inline constexpr UINT MsgFtpReply = WM_USER + 0x0F03;    // wParam code, lParam line copy
inline constexpr UINT MsgFtpLog = WM_USER + 0x0F04;      // wParam code (7 bits)
inline constexpr UINT MsgFtpTimeout = WM_USER + 0x0F05;  // the transfer timer ran out
// The connect timer: window timer number 1 of the hidden window.
inline constexpr UINT_PTR kFtpConnectTimerId = 1;
// TransferTimeout's initial value: about 60 s in 55 ms ticks.
inline constexpr int32_t kFtpDefaultTransferTimeout = 1092;

class CustomFtpClient : public CustomWinsockPort {
public:
    explicit CustomFtpClient(Component* owner);
    ~CustomFtpClient() override;
    std::string ClassName() const override { return "CustomFtpClient"; }

    // ---- operations (all return at once) ----
    // False when already logged in. Otherwise opens the connection (the
    // port's errors, such as an unknown host, are raised to the caller) or,
    // while logging in, sends "USER " again.
    bool LogIn();
    // Sends "QUIT" when connected, handles messages for five ticks, closes.
    // Result: the connection was open.
    bool LogOut();
    // Only when Ready: "CWD " + folder ("PWD" for an empty folder).
    bool ChangeFolder(const std::string& folder);
    // Only when Ready: "PWD".
    bool QueryFolder();
    // Only when Ready: "LIST" (full) or "NLST" of the folder (the current
    // one when empty) over a data connection; the text arrives as
    // scInfoText. Result: the data connection could be prepared.
    bool ListFolder(const std::string& folder, bool full);
    // Only when Ready and both names are given. Raises the runtime's file
    // error when the local file cannot be opened.
    bool DownloadFile(const std::string& remoteName, const std::string& localName, FtpDownloadMode mode);
    // Only while an operation runs: "ABOR".
    bool AbortTransfer();
    // True in every state but Unconnected.
    bool IsConnected() const { return state_ != FtpState::Unconnected; }

    // ---- properties (ServerAddress and WsPort come from the TCP port) ----
    const std::string& Account() const { return account_; }
    void SetAccount(const std::string& value) { account_ = value; }
    int32_t ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int32_t value) { connectTimeout_ = value; }
    FtpFileType FileType() const { return fileType_; }
    void SetFileType(FtpFileType value) { fileType_ = value; }
    // The history log; setting it also sets the log's FtpClient to this.
    FtpLog* GetFtpLog() const { return ftpLog_; }
    void SetFtpLog(FtpLog* value);
    const std::string& Password() const { return password_; }
    void SetPassword(const std::string& value) { password_ = value; }
    bool PassiveMode() const { return passiveMode_; }
    void SetPassiveMode(bool value) { passiveMode_ = value; }
    int32_t TransferTimeout() const { return transferTimeout_; }
    void SetTransferTimeout(int32_t value) { transferTimeout_ = value; }
    const std::string& UserName() const { return userName_; }
    void SetUserName(const std::string& value) { userName_ = value; }
    // Bytes received in the current listing or download.
    int32_t BytesTransferred() const { return bytesTransferred_; }
    int32_t RestartOffset() const { return restartOffset_; }
    void SetRestartOffset(int32_t value) { restartOffset_ = value; }

    FtpErrorEvent OnFtpError;
    FtpLogEvent OnFtpLog;
    FtpReplyEvent OnFtpReply;
    FtpStatusEvent OnFtpStatus;

    // ---- state for the history log, tests and diagnostics ----
    FtpState ProcessState() const { return state_; }
    bool LoggedIn() const { return loggedIn_; }
    bool AbortFlag() const { return abortFlag_; }
    // Of the last download started.
    const std::string& RemoteFileName() const { return remoteFileName_; }
    const std::string& LocalFileName() const { return localFileName_; }
    int CommandCount() const { return commands_.Count(); }
    const char* ReplyText() const { return reply_.Text(); }
    HWND MessageWindow() const { return messageWindow_; }
    DataPacket* ReplyPacket() const { return replyPacket_; }
    CommSocket* DataSocketComponent() const { return dataSocket_; }
    SocketHandle DataSocket() const { return dataHandle_; }
    SocketHandle ListeningSocket() const { return listenHandle_; }
    bool LocalFileOpen() const { return localFile_ != INVALID_HANDLE_VALUE; }
    int32_t TransferTimerHandle() const { return transferTimer_; }

    void Notification(Component* component, Operation operation) override;

protected:
    void ConnectEvent() override;
    void DisconnectEvent() override;

private:
    friend LRESULT CALLBACK FtpClientWindowProc(HWND, UINT, WPARAM, LPARAM);

    // ---- control connection ----
    void SendCommand(const std::string& text);
    void QueueCommand(const std::string& text);
    void SendNextCommand();
    void ReplyReader(Object* sender, const std::string& line);
    void ReplyStateMachine(int32_t code, std::string_view line);
    void ErrorRoutine(int32_t code);
    void SetState(FtpState state);
    void Reset();
    void ReportStatus(FtpStatusCode code, const char* text);
    void ReportError(int32_t code, const char* text);
    void ReportLog(FtpLogCode code);
    void PostText(UINT msg, WPARAM code, const char* text);
    void StartTransferTimer();
    void RefreshTransferTimer();
    void StopTransferTimer();
    void TimerHandler(UINT msg, WPARAM wParam, LPARAM lParam);
    void TimeoutMessage();
    void ConnectTimerExpired();
    void KillConnectTimer();
    LRESULT WindowMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    // ---- data connection ----
    bool PrepareDataConnection();
    bool PrepareSteps();
    void ConnectPassive();
    int32_t ReadDataOnce();
    void CloseDataConnection(bool draining);
    void CloseSocketsAndFile();
    void ReleaseLocalFile();
    void OpenLocalFile(const std::string& name, FtpDownloadMode mode);
    void WriteLocalFile(const void* data, int32_t count);
    void DataAccept(Object* sender, SocketHandle s);
    void DataClose(Object* sender, SocketHandle s);
    void DataError(Object* sender, SocketHandle s, int32_t errorCode);
    void DataRead(Object* sender, SocketHandle s);
    void DataWrite(Object* sender, SocketHandle s);

    // Properties.
    std::string account_;
    int32_t connectTimeout_ = 0;
    FtpFileType fileType_ = ftBinary;
    FtpLog* ftpLog_ = nullptr;
    std::string password_;
    bool passiveMode_ = false;
    int32_t transferTimeout_ = kFtpDefaultTransferTimeout;
    std::string userName_;
    int32_t bytesTransferred_ = 0;
    int32_t restartOffset_ = 0;

    // Processing.
    FtpState state_ = FtpState::Unconnected;
    bool loggedIn_ = false;
    bool abortFlag_ = false;
    // AbortTransfer was called for the operation under way: the close of its
    // data connection is no completion.
    bool userAborted_ = false;
    bool destroying_ = false;
    FtpCommandQueue commands_;
    FtpReplyAssembler reply_;
    int32_t transferTimer_ = 0;
    bool connectTimerRunning_ = false;
    HWND messageWindow_ = nullptr;
    DataPacket* replyPacket_ = nullptr;

    // Data connection.
    CommSocket* dataSocket_ = nullptr;
    SocketHandle dataHandle_ = kInvalidSocket;
    SocketHandle listenHandle_ = kInvalidSocket;
    sockaddr_in localAddress_{};
    sockaddr_in acceptAddress_{};
    // The data buffer: one block of a download, or the listing text, which
    // may grow beyond one block (always zero-terminated inside it).
    std::vector<char> dataBuffer_;
    HANDLE localFile_ = INVALID_HANDLE_VALUE;
    FtpDownloadMode downloadMode_ = dmReplace;
    // A replaced file received whole is cut to its new length when released.
    bool cutAtRelease_ = false;
    // The client is closing its own sockets: their failures are not reported.
    bool closingSockets_ = false;
    std::string remoteFileName_;
    std::string localFileName_;
};

class FtpClient : public CustomFtpClient {
public:
    explicit FtpClient(Component* owner) : CustomFtpClient(owner) {}
    std::string ClassName() const override { return "FtpClient"; }

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override;
};

class FtpLog : public BaseComponent {
public:
    explicit FtpLog(Component* owner);
    ~FtpLog() override;
    std::string ClassName() const override { return "FtpLog"; }

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    const std::string& FtpHistoryName() const { return ftpHistoryName_; }
    void SetFtpHistoryName(const std::string& value) { ftpHistoryName_ = value; }
    // A plain reference: setting it leaves the client's FtpLog alone.
    CustomFtpClient* GetFtpClient() const { return ftpClient_; }
    void SetFtpClient(CustomFtpClient* value);

    // Appends the line of the log code while Enabled (file opened and
    // closed for the line). I/O failures raise EInOutError.
    virtual void WriteHistory(FtpLogCode logCode);

    // The date-time text in front of a line, from the system's locale:
    // "mm/dd/yy" with the locale's date separator, the locale's long time
    // format. Public for tests.
    static FtpDateTimeFormat SystemDateTimeFormat();
    static std::string DateTimeText(const SYSTEMTIME& when);

    void Notification(Component* component, Operation operation) override;

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override;

private:
    bool enabled_ = false;
    std::string ftpHistoryName_ = "COMMSFTP.HIS";
    CustomFtpClient* ftpClient_ = nullptr;
};

// Makes "FtpClient" and "FtpLog" known to form resources (once per
// process; calling again is harmless).
void RegisterFtpClasses();

}  // namespace qv
