// The upgrade window GetUpdateFile and the state of its unit.
//
// The window is read from its form resource (get_update_file.form). Every
// handler the resource names is registered in RegisterHandlers(), the one
// place to extend when components and handlers are added to the resource;
// the component fields are bound by name in BindComponents() after reading.
//
// The upgrade run itself is the portable UpgradeRun (upgrade_run.h): the
// handlers hand it what happens, and the window carries out what it asks
// (UpgradeRunHost). At creation the window first finishes or undoes an
// upgrade that a kill interrupted (upgrade_transaction.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/bcrypt_crypto.h"
#include "app/install_files.h"
#include "app/staged_download.h"
#include "app/upgrade_run.h"
#include "comms/ftp/ftp_client.h"
#include "framework/common_controls.h"
#include "framework/controls.h"
#include "framework/form.h"
#include "framework/string_list.h"
#include "framework/timer.h"
#include "i18n/multilang.h"

namespace qv {

// ---- unit-level state (one copy per process) ----
// The product's installation folder with its trailing backslash; empty
// when the product was not found.
extern std::string InstallFolder;
// The upgrade folder on the server, set when an upgrade run starts.
extern std::string RemoteFolder;
// 0 = English, 1 = Chinese message texts.
extern uint8_t LanguageIndex;

inline const std::string kApplicationTitle = "Quotiva Internet Upgrading System";

// The two upgrade servers: deployment data, compiled in from the CMake cache
// variables QUOTIVA_MAIN_SERVER and QUOTIVA_SPARE_SERVER.
extern const char* const kMainServer;
extern const char* const kSpareServer;

class GetUpdateFile : public Form, private UpgradeRunHost {
public:
    explicit GetUpdateFile(Component* owner = nullptr);
    ~GetUpdateFile() override;
    std::string ClassName() const override { return "GetUpdateFile"; }
    void Loaded() override;

    // ---- handlers bound by the form resource ----
    void FormCreate(Object* Sender);
    void FormClose(Object* Sender, CloseAction& Action);
    void FormDestroy(Object* Sender);
    void btnDownloadClick(Object* Sender);
    void btnCancelClick(Object* Sender);
    void Timer1Timer(Object* Sender);
    void Timer2Timer(Object* Sender);
    void Timer3Timer(Object* Sender);
    void FtpClient1FtpStatus(Object* Sender, FtpStatusCode StatusCode, const char* InfoText);
    void FtpClient1FtpError(Object* Sender, int32_t ErrorCode, const char* ErrorText);

    // ---- components (bound by name after reading) ----
    Image* ProgramIcon = nullptr;
    Label* Label1 = nullptr;
    Label* Label2 = nullptr;
    Label* Label3 = nullptr;
    Label* Label4 = nullptr;
    Label* Label5 = nullptr;
    Memo* InfoMemo = nullptr;
    Memo* Memo1 = nullptr;
    StatusBar* StatusBar1 = nullptr;
    Button* btnDownload = nullptr;
    Button* btnCancel = nullptr;
    CheckBox* UsePassiveMode = nullptr;
    CheckBox* UseSpareSystem = nullptr;
    MultiLang* MultiLang1 = nullptr;
    FtpClient* FtpClient1 = nullptr;
    FtpLog* FtpLog1 = nullptr;
    Timer* Timer1 = nullptr;  // 2000 ms: ends the run once the queue is exhausted
    Timer* Timer2 = nullptr;  // 3000 ms: starts the downloads once the queue is filled
    Timer* Timer3 = nullptr;  // 5000 ms: changes to the upgrade folder once logged in

    std::string SavedCaption;

    // The settings of every run: server and account by "Use Spare System",
    // passive mode by "Use Passive Mode", the upgrade folder, the transfer
    // time-out, restart offset 0, binary type.
    void ApplyFtpSettings();

    // Whether this program refuses an upgrade folder without a signed
    // manifest (set before the window is made; the program's build decides).
    static void SetSignedUpgradesRequired(bool required);
    // The window is made hidden, whatever its resource says (a /quiet run).
    static void SetHidden(bool hidden);

    // The upgrade run.
    UpgradeRun& Run() { return run_; }
    const UpgradeRun& Run() const { return run_; }
    // Every transition of the run and every step of its installation, as
    // it happens (for tests and diagnostics).
    std::function<void(const std::string& line)> OnRunTrace;
    // The same for every window of the process, set before the window is
    // made (a test build of the program records the run or stops there).
    static void SetProcessRunTrace(std::function<void(const std::string& line)> trace);

private:
    // ---- UpgradeRunHost ----
    void SetStatus(const std::string& text) override;
    void RestoreCaption() override;
    void ClearReceived() override;
    void AddReceived(const std::string& name) override;
    void AddListingLine(const std::string& line) override;
    void SetListing(const std::string& text) override;
    std::vector<std::string> ListingLines() override;
    void ClearListing() override;
    void SetTimer(int timer, bool on) override;
    void Pause(unsigned milliseconds) override;
    void ShowNotice(const std::string& text) override;
    void ShowFtpError(int32_t code, const std::string& text) override;
    bool AskRetry(const std::string& text) override;
    void ReportFailure(const std::string& file) override;
    void CloseWindow() override;
    void ApplySettings() override { ApplyFtpSettings(); }
    bool IsConnected() override;
    bool LogIn() override;
    void LogOut() override;
    void ChangeFolder(const std::string& folder) override;
    void QueryFolder() override;
    void ListFolder() override;
    DownloadStart DownloadFile(const std::string& remote, const std::string& local, int64_t restartOffset) override;
    int32_t BytesTransferred() override;
    std::string FoldName(std::string_view name) override;
    void NewStagingRun() override;
    std::string BeginStaging(const std::string& installed) override;
    void DiscardStaged(const std::string& staged) override;
    std::string StageText(const std::string& installed, const std::string& text) override;
    InstallFiles& Files() override;
    UpgradeCrypto& Crypto() override { return crypto_; }
    std::optional<P256PublicKey> SigningKey() override;
    std::optional<FileDigest> Digest(const std::string& path) override;
    void Trace(std::string_view line) override;

    // Finishes or undoes an upgrade a kill interrupted; false when the user
    // chose to end the program instead (a file stays in use).
    bool RecoverInstallation();

    StagedDownload staged_;
    WindowsInstallFiles files_{std::string()};
    BcryptUpgradeCrypto crypto_;
    UpgradeRun run_{*this};

    void RegisterHandlers();
    void BindComponents();
    template <class T>
    void Bind(T*& field, const char* name);
};

// Registers the component classes the window's resource uses.
void RegisterApplicationClasses();

}  // namespace qv
