// FtpLog: the FTP client's history log. While Enabled it appends one line
// per log code the client reports to a text file (COMMSFTP.HIS unless
// FtpHistoryName says otherwise), naming the server, the user and the file
// of the last download.
#pragma once

#include <windows.h>

#include <string>

#include "comms/base/comm_misc_core.h"
#include "framework/properties.h"
#include "comms/ftp/ftp_history_text.h"
#include "comms/ftp/ftp_types.h"

namespace qv {

class CustomFtpClient;

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

}  // namespace qv
