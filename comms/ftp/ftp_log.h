// FtpLog: the FTP client's history log. While Enabled it appends one line
// per log code the client reports to a text file (COMMSFTP.HIS unless
// FtpHistoryName says otherwise), naming the server, the user and the file
// of the last download.
//
// The log knows its client only as an FtpHistorySource: the values a line
// quotes, and the client's side of their link.
#pragma once

#include <windows.h>

#include <string>

#include "comms/base/comm_misc_core.h"
#include "framework/properties.h"
#include "comms/ftp/ftp_history_text.h"
#include "comms/ftp/ftp_types.h"

namespace qv {

class FtpLog;

// What a history log needs of the client whose lines it writes. The FTP
// client implements it.
class FtpHistorySource {
public:
    // The client's values as they are now.
    virtual FtpHistoryValues HistoryValues() const = 0;
    // The client's FtpLog; setting it links both ways.
    virtual FtpLog* GetFtpLog() const = 0;
    virtual void SetFtpLog(FtpLog* value) = 0;

protected:
    ~FtpHistorySource() = default;
};

class FtpLog : public BaseComponent {
public:
    explicit FtpLog(Component* owner);
    std::string ClassName() const override { return "FtpLog"; }

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    const std::string& FtpHistoryName() const { return ftpHistoryName_; }
    void SetFtpHistoryName(const std::string& value) { ftpHistoryName_ = value; }
    // A plain reference: setting it leaves the client's FtpLog alone. The
    // client must be a component.
    FtpHistorySource* GetFtpClient() const { return ftpClient_; }
    void SetFtpClient(FtpHistorySource* value);

    // Appends the line of the log code while Enabled (file opened and
    // closed for the line). I/O failures raise EInOutError.
    virtual void WriteHistory(FtpLogCode logCode);

    // The date-time text in front of a line, from the system's locale:
    // "mm/dd/yy" with the locale's date separator, the locale's long time
    // format. Public for tests.
    static FtpDateTimeFormat SystemDateTimeFormat();
    static std::string DateTimeText(const SYSTEMTIME& when);

    // The one way a client and a log beside it link: when one of the two
    // is a client without a log and the other a log without a client, the
    // client's FtpLog setter links them. LinkBeside tries a component just
    // made with every other component of its owner.
    static void LinkFree(Component* a, Component* b);
    static void LinkBeside(Component& made);

    void Notification(Component* component, Operation operation) override;

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override;

private:
    // The published FtpClient reference: any component that is a client.
    Component* ClientComponent() const { return clientComponent_; }
    void SetClientComponent(Component* value);

    bool enabled_ = false;
    std::string ftpHistoryName_ = "COMMSFTP.HIS";
    FtpHistorySource* ftpClient_ = nullptr;
    // The same client as a component: what notifications name.
    Component* clientComponent_ = nullptr;
};

}  // namespace qv
