#include "comms/ftp/ftp_log.h"

#include "comms/base/comm_errors.h"
#include "framework/files.h"

namespace qv {

FtpLog::FtpLog(Component* owner) : BaseComponent(owner) {
    // A client already placed beside this log links with it, as one placed
    // after it does through its own constructor.
    LinkBeside(*this);
}

void FtpLog::SetFtpClient(FtpHistorySource* value) {
    if (value == ftpClient_) return;
    ftpClient_ = value;
    clientComponent_ = dynamic_cast<Component*>(value);
    // Either end's destruction tells the other (both ways).
    if (clientComponent_) FreeNotification(clientComponent_);
}

void FtpLog::SetClientComponent(Component* value) {
    auto* client = dynamic_cast<FtpHistorySource*>(value);
    if (value && !client) throw EPropertyError("Invalid property value for FtpClient");
    SetFtpClient(client);
}

void FtpLog::LinkFree(Component* a, Component* b) {
    if (!a || !b || a == b) return;
    auto* client = dynamic_cast<FtpHistorySource*>(a);
    auto* log = dynamic_cast<FtpLog*>(b);
    if (!client || !log) {
        client = dynamic_cast<FtpHistorySource*>(b);
        log = dynamic_cast<FtpLog*>(a);
    }
    if (client && log && !client->GetFtpLog() && !log->GetFtpClient()) client->SetFtpLog(log);
}

void FtpLog::LinkBeside(Component& made) {
    Component* owner = made.Owner();
    if (!owner) return;
    for (int i = 0; i < owner->ComponentCount(); ++i) LinkFree(&made, owner->Components(i));
}

void FtpLog::Notification(Component* component, Operation operation) {
    BaseComponent::Notification(component, operation);
    if (operation == Operation::opRemove) {
        if (component && component == clientComponent_) {
            ftpClient_ = nullptr;
            clientComponent_ = nullptr;
        }
    } else {
        LinkFree(this, component);
    }
}

namespace {

std::string LocaleText(LCTYPE type) {
    char buffer[128];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
    return n > 1 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string();
}

[[noreturn]] void RaiseIoError(DWORD code) {
    int32_t number = static_cast<int32_t>(code ? code : ERROR_WRITE_FAULT);
    throw EInOutError(MessageForCode(-number), number);
}

// Opens the history file for appending as the runtime's text files do: at
// its end, where a Ctrl-Z in the last 128 bytes marks the end and what
// follows it is cut. Returns the open file or the I/O error number.
OwnedFile OpenForAppend(const std::string& name, DWORD& error) {
    OwnedFile owned = OpenOwnedFile(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    if (!owned) {
        error = GetLastError();
        return owned;
    }
    HANDLE file = owned.Get();
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart > 128 ? size.QuadPart - 128 : 0;
    SetFilePointerEx(file, from, nullptr, FILE_BEGIN);
    char tail[128];
    DWORD got = 0;
    if (ReadFile(file, tail, sizeof tail, &got, nullptr)) {
        for (DWORD i = 0; i < got; ++i)
            if (tail[i] == 0x1A) {
                LARGE_INTEGER at{};
                at.QuadPart = from.QuadPart + i;
                SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
                SetEndOfFile(file);
                break;
            }
    }
    LARGE_INTEGER zero{};
    SetFilePointerEx(file, zero, nullptr, FILE_END);
    error = 0;
    return owned;
}

}  // namespace

FtpDateTimeFormat FtpLog::SystemDateTimeFormat() {
    FtpDateTimeFormat format;
    format.ShortDateFormat = "mm/dd/yy";
    if (std::string separator = LocaleText(LOCALE_SDATE); !separator.empty()) format.DateSeparator = separator[0];
    if (std::string time = LocaleText(LOCALE_STIMEFORMAT); !time.empty()) format.LongTimeFormat = time;
    format.AmDesignator = LocaleText(LOCALE_S1159);
    format.PmDesignator = LocaleText(LOCALE_S2359);
    return format;
}

std::string FtpLog::DateTimeText(const SYSTEMTIME& when) {
    FtpDateTimeParts parts;
    parts.Year = when.wYear;
    parts.Month = when.wMonth;
    parts.Day = when.wDay;
    parts.Hour = when.wHour;
    parts.Minute = when.wMinute;
    parts.Second = when.wSecond;
    parts.Millisecond = when.wMilliseconds;
    return FtpFormatDateTime(parts, SystemDateTimeFormat());
}

void FtpLog::WriteHistory(FtpLogCode logCode) {
    if (!enabled_ || ftpHistoryName_.empty()) return;
    DWORD error = 0;
    OwnedFile file = OpenForAppend(ftpHistoryName_, error);
    if (!file) {
        // Missing, or held by another program: made anew, empty.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_SHARING_VIOLATION) RaiseIoError(error);
        file = OpenOwnedFile(ftpHistoryName_, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
        if (!file) RaiseIoError(GetLastError());
    }
    const FtpHistoryValues values = ftpClient_ ? ftpClient_->HistoryValues() : FtpHistoryValues{};
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string line = FtpHistoryLine(DateTimeText(now), logCode, values);
    DWORD written = 0;
    DWORD failure = 0;
    if (!WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        failure = GetLastError();
    else if (written != line.size())
        failure = 101;  // the runtime's "Disk write error"
    DWORD closed = file.Close();
    if (closed && !failure) failure = closed;
    if (failure) RaiseIoError(failure);
}

const PropertyTable& FtpLog::StaticProperties() {
    static const PropertyTable table(&BaseComponent::StaticProperties(), {
        BooleanProperty<FtpLog>("Enabled", &FtpLog::Enabled, &FtpLog::SetEnabled),
        StringProperty<FtpLog>("FtpHistoryName", &FtpLog::FtpHistoryName, &FtpLog::SetFtpHistoryName),
        ReferenceProperty<FtpLog, Component>("FtpClient", &FtpLog::ClientComponent, &FtpLog::SetClientComponent),
    });
    return table;
}

const PropertyTable& FtpLog::Properties() const { return StaticProperties(); }

}  // namespace qv
