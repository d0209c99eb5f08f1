// First cut: the declarations link; the engine itself follows.
#include "comms/ftp/ftp_client.h"

#include "framework/form_reader.h"

namespace qv {

CustomFtpClient::CustomFtpClient(Component* owner) : CustomWinsockPort(owner) {
    SetDeviceLayer(dlWinsock);
    SetWsMode(wsClient);
    SetWsPort("ftp");
    SetOpenOnDemand(false);
}

CustomFtpClient::~CustomFtpClient() { CloseOnDestroy(); }

bool CustomFtpClient::LogIn() { return false; }
bool CustomFtpClient::LogOut() { return false; }
bool CustomFtpClient::ChangeFolder(const std::string&) { return false; }
bool CustomFtpClient::QueryFolder() { return false; }
bool CustomFtpClient::ListFolder(const std::string&, bool) { return false; }
bool CustomFtpClient::DownloadFile(const std::string&, const std::string&, FtpDownloadMode) { return false; }
bool CustomFtpClient::AbortTransfer() { return false; }
void CustomFtpClient::SetFtpLog(FtpLog* value) { ftpLog_ = value; }
void CustomFtpClient::Notification(Component* component, Operation operation) {
    CustomWinsockPort::Notification(component, operation);
}
void CustomFtpClient::ConnectEvent() {}
void CustomFtpClient::DisconnectEvent() {}

// Only what the client publishes, in its order: the TCP port's own settings
// (device layer, role, line settings) stay fixed for an FTP client.
const PropertyTable& FtpClient::StaticProperties() {
    static const std::vector<std::string> states{"tlOff", "tlOn", "tlDump", "tlAppend", "tlClear", "tlPause"};
    using C = FtpClient;
    static const PropertyTable table(&BaseComponent::StaticProperties(), {
        StringProperty<C>("Account", &C::Account, &C::SetAccount),
        IntegerProperty<C>("ConnectTimeout", &C::ConnectTimeout, &C::SetConnectTimeout),
        EnumProperty<C, FtpFileType>("FileType", {"ftAscii", "ftBinary"}, &C::FileType, &C::SetFileType),
        ReferenceProperty<C, FtpLog>("FtpLog", &C::GetFtpLog, &C::SetFtpLog),
        StringProperty<C>("Password", &C::Password, &C::SetPassword),
        BooleanProperty<C>("PassiveMode", &C::PassiveMode, &C::SetPassiveMode),
        StringProperty<C>("ServerAddress", &C::ServerAddress, &C::SetServerAddress),
        IntegerProperty<C>("TransferTimeout", &C::TransferTimeout, &C::SetTransferTimeout),
        StringProperty<C>("UserName", &C::UserName, &C::SetUserName),
        EventProperty<CustomFtpClient>("OnFtpError", &CustomFtpClient::OnFtpError),
        EventProperty<CustomFtpClient>("OnFtpLog", &CustomFtpClient::OnFtpLog),
        EventProperty<CustomFtpClient>("OnFtpReply", &CustomFtpClient::OnFtpReply),
        EventProperty<CustomFtpClient>("OnFtpStatus", &CustomFtpClient::OnFtpStatus),
        EnumProperty<C, TraceLogState>("Logging", states, &C::Logging, &C::SetLogging),
        IntegerProperty<C>("LogSize", &C::LogSize, &C::SetLogSize),
        StringProperty<C>("LogName", &C::LogName, &C::SetLogName),
        BooleanProperty<C>("LogHex", &C::LogHex, &C::SetLogHex),
        EnumProperty<C, TraceLogState>("Tracing", states, &C::Tracing, &C::SetTracing),
        IntegerProperty<C>("TraceSize", &C::TraceSize, &C::SetTraceSize),
        StringProperty<C>("TraceName", &C::TraceName, &C::SetTraceName),
        BooleanProperty<C>("TraceHex", &C::TraceHex, &C::SetTraceHex),
        StringProperty<C>("WsPort", &C::WsPort, &C::SetWsPort),
    });
    return table;
}
const PropertyTable& FtpClient::Properties() const { return StaticProperties(); }

FtpLog::FtpLog(Component* owner) : BaseComponent(owner) {}
FtpLog::~FtpLog() = default;
void FtpLog::SetFtpClient(CustomFtpClient* value) { ftpClient_ = value; }
void FtpLog::WriteHistory(FtpLogCode) {}
FtpDateTimeFormat FtpLog::SystemDateTimeFormat() { return {}; }
std::string FtpLog::DateTimeText(const SYSTEMTIME&) { return {}; }
void FtpLog::Notification(Component* component, Operation operation) { BaseComponent::Notification(component, operation); }
const PropertyTable& FtpLog::StaticProperties() {
    static const PropertyTable table(&BaseComponent::StaticProperties(), {
        BooleanProperty<FtpLog>("Enabled", &FtpLog::Enabled, &FtpLog::SetEnabled),
        StringProperty<FtpLog>("FtpHistoryName", &FtpLog::FtpHistoryName, &FtpLog::SetFtpHistoryName),
        ReferenceProperty<FtpLog, CustomFtpClient>("FtpClient", &FtpLog::GetFtpClient, &FtpLog::SetFtpClient),
    });
    return table;
}
const PropertyTable& FtpLog::Properties() const { return StaticProperties(); }

void RegisterFtpClasses() {
    RegisterComponentClass<FtpClient>("FtpClient");
    RegisterComponentClass<FtpLog>("FtpLog");
}

}  // namespace qv
