// The upgrade run of the window, free of platform calls: its phases, its
// queue, its counts and its staged files, and what it asks of the window
// at each step.
//
// The window feeds it what happens (the buttons, the three timers, the FTP
// client's status and error events) and carries out what it asks through
// UpgradeRunHost (texts, timers, the client's operations, boxes, staging
// and installing files). The run decides everything else.
//
// Phases (Phase(); the only writer is Transition(), traced as
// "[From] -> [To] (why)"):
//   Idle         until "Download File"
//   LoggingIn    Timer3 waits until the client is logged in and the login
//                folder's listing has come (or failed)
//   UpgradeFolder  Timer1 and Timer2 on; the upgrade folder is changed to
//                and listed, the queue filled from its listing
//   Downloading  the files one after another, each staged beside the file
//                it replaces
//   Committing   the downloads have ended: the files that arrived are
//                installed together, or none is
//   Finishing    the second logout, the completion message, the window
//                closes
// A failed file does not stop the others; a session the server ended, a
// time-out, Cancel or the window closing leave the installation as it was.
//
// Signed upgrades: when the upgrade folder lists "upgrade.manifest", it and
// its signature are fetched first and verified (the publisher's key, the
// product, a version not older than the installed one); the files to
// install are then the manifest's, a file already installed as the
// manifest says is not fetched, a transfer that breaks off is resumed from
// its staged bytes, and every file's size and SHA-256 are checked before
// anything is installed. Any doubt and nothing is installed, with one
// message that says why. The installed version is recorded with the files.
// A program built to require signed upgrades refuses a folder without a
// manifest.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/manifest_verify.h"
#include "app/upgrade_transaction.h"
#include "comms/ftp/ftp_types.h"

namespace qv {

enum class UpgradePhase : uint8_t { Idle, LoggingIn, UpgradeFolder, Downloading, Committing, Finishing };

const char* UpgradePhaseName(UpgradePhase phase);

// How a download request went.
enum class DownloadStart : uint8_t {
    Started,   // the client took it; its outcome arrives as an event
    Failing,   // the client took it but cannot run it: its error follows
    Refused,   // the client took nothing (not ready); nothing follows
};

class UpgradeRunHost {
public:
    // ---- the window ----
    virtual void SetStatus(const std::string& text) = 0;
    virtual void RestoreCaption() = 0;
    virtual void ClearReceived() = 0;                      // Memo1
    virtual void AddReceived(const std::string& name) = 0;
    virtual void AddListingLine(const std::string& line) = 0;  // InfoMemo
    virtual void SetListing(const std::string& text) = 0;
    virtual std::vector<std::string> ListingLines() = 0;
    virtual void ClearListing() = 0;
    // Timers 1 (2000 ms), 2 (3000 ms), 3 (5000 ms).
    virtual void SetTimer(int timer, bool on) = 0;
    // Holds the run for that long: nothing of the run is handled meanwhile.
    virtual void Pause(unsigned milliseconds) = 0;
    // The plain box with the program's title.
    virtual void ShowNotice(const std::string& text) = 0;
    // The warning box "FTP Error: " + code.
    virtual void ShowFtpError(int32_t code, const std::string& text) = 0;
    // The box that names a file that cannot be replaced now; true for Retry.
    virtual bool AskRetry(const std::string& text) = 0;
    // The application's report of a failure (as an exception's message).
    virtual void ReportFailure(const std::string& text) = 0;
    virtual void CloseWindow() = 0;

    // ---- the FTP client ----
    // The run's settings: server and account by the spare check box,
    // passive mode by its check box, transfer time-out, restart offset,
    // binary type.
    virtual void ApplySettings() = 0;
    virtual bool IsConnected() = 0;
    // Raises what opening the connection raises.
    virtual bool LogIn() = 0;
    virtual void LogOut() = 0;
    virtual void ChangeFolder(const std::string& folder) = 0;
    virtual void QueryFolder() = 0;
    virtual void ListFolder() = 0;
    // Raises when the local file cannot be opened. A restart offset above 0
    // resumes the local file from there (REST).
    virtual DownloadStart DownloadFile(const std::string& remote, const std::string& local,
                                       int64_t restartOffset = 0) = 0;
    virtual int32_t BytesTransferred() = 0;
    // Names compared as the system compares file names.
    virtual std::string FoldName(std::string_view name) = 0;

    // ---- files ----
    // A new run: folders are cleared of leftovers before it first writes
    // there.
    virtual void NewStagingRun() = 0;
    // Creates the temporary file that will replace `installed` (the
    // installation folder's path, as listed); returns its path relative to
    // the installation folder. Raises "Cannot open file <installed>" when
    // it cannot be made.
    virtual std::string BeginStaging(const std::string& installed) = 0;
    virtual void DiscardStaged(const std::string& staged) = 0;
    // Stages a file of this text that will replace `installed`; returns its
    // path as BeginStaging does.
    virtual std::string StageText(const std::string& installed, const std::string& text) = 0;
    virtual InstallFiles& Files() = 0;

    // ---- signed upgrades ----
    virtual UpgradeCrypto& Crypto() = 0;
    // The publisher's key the program carries; nothing when it has none.
    virtual std::optional<P256PublicKey> SigningKey() = 0;
    // Size and SHA-256 of a file below the installation folder; nothing
    // when it cannot be read.
    virtual std::optional<FileDigest> Digest(const std::string& path) = 0;

    virtual void Trace(std::string_view line) { (void)line; }

protected:
    ~UpgradeRunHost() = default;
};

class UpgradeRun {
public:
    explicit UpgradeRun(UpgradeRunHost& host) : host_(host) {}
    UpgradeRun(const UpgradeRun&) = delete;
    UpgradeRun& operator=(const UpgradeRun&) = delete;

    // LanguageIndex: 0 English, otherwise Chinese.
    void SetLanguage(int index) { language_ = index; }
    // The upgrade folder on the server ("//QVX_upgrade").
    void SetRemoteFolder(std::string folder) { remoteFolder_ = std::move(folder); }
    // Refuse an upgrade folder without a signed manifest.
    void SetSignedUpgradesRequired(bool required) { signedRequired_ = required; }

    // ---- what happens ----
    void DownloadClicked();
    void CancelClicked();
    void Timer1();
    void Timer2();
    void Timer3();
    void Status(FtpStatusCode code, const char* text);
    void Error(int32_t code, const char* text);
    // The window goes (the close box, the end of the program): nothing of
    // the run is installed, and its staged files go.
    void WindowClosing();

    // ---- state ----
    UpgradePhase Phase() const { return phase_; }
    const std::vector<std::string>& DownloadQueue() const { return queue_; }
    // Files received in this run (each listed in the received files).
    int32_t DownloadedCount() const { return downloaded_; }
    // Files put in place by the commit.
    int32_t InstalledCount() const { return installed_; }
    bool LoggedIn() const { return login_.loggedIn; }
    bool ListingReceived() const { return login_.listed; }
    bool QueueFilled() const { return queueFilled_; }
    bool QueueExhausted() const { return queueExhausted_; }
    const std::vector<InstallEntry>& Staged() const { return staged_; }
    // The upgrade folder listed a manifest: this is a signed upgrade.
    bool Signed() const { return signed_.active; }
    // Why a signed upgrade installs nothing (empty while nothing speaks
    // against it).
    const std::string& SignedFailure() const { return signed_.failure; }
    // The download under way: its staged file (empty when none).
    const std::string& CurrentStaged() const { return current_.staged; }

    // Steps of the run, public for the window's tests: the queue as a
    // listing would fill it, the queue filled from the listing the window
    // shows, the next download.
    void SetDownloadQueue(std::vector<std::string> names) { queue_ = std::move(names); }
    void FillQueueFromListing();
    void StartNextDownload();

private:
    struct Login {
        bool loggedIn = false;
        bool listed = false;  // the login folder's listing arrived (or failed)
        bool listing = false;  // it is under way
    };
    struct Current {
        std::string name;    // as listed
        std::string staged;  // empty: no download under way
        int64_t offset = 0;  // where this transfer began in the staged file
    };

    struct Attempt {
        std::string staged;  // the bytes kept from a transfer that broke off
        int retries = 0;     // resumptions so far
        bool fromZero = false;  // the next try starts from 0 (REST got nowhere)
        bool resumed = false;   // the bytes come from more than one transfer
        bool wholeRetried = false;  // a resumed file that did not match was fetched once more whole
    };
    struct SignedRun {
        bool active = false;
        bool verified = false;
        std::string manifestText, signatureText;
        UpgradeManifest manifest;
        std::vector<std::string> listed;  // the folder's names
        std::map<std::string, Attempt> attempts;
        std::string failure;
    };

    void Transition(UpgradePhase to, std::string_view why);
    bool FetchingManifest() const;
    void ManifestArrived();
    void VerifySigned();
    void FailSigned(const std::string& text);
    bool Resume(const std::string& why);
    uint64_t InstalledVersion();
    void StartUpgrade();
    void DiscardCurrent();
    void DiscardAll();
    void Commit();
    void FinishUpgrade();
    std::string QueueHead() const { return queue_.empty() ? std::string() : queue_.front(); }
    void DropHead() {
        if (!queue_.empty()) queue_.erase(queue_.begin());
    }

    UpgradeRunHost& host_;
    UpgradePhase phase_ = UpgradePhase::Idle;
    int language_ = 1;
    std::string remoteFolder_ = "//QVX_upgrade";
    Login login_;
    std::vector<std::string> queue_;
    bool queueFilled_ = false;
    bool queueExhausted_ = false;
    int32_t downloaded_ = 0;
    int32_t installed_ = 0;
    Current current_;
    std::vector<InstallEntry> staged_;
    bool signedRequired_ = false;
    SignedRun signed_;
};

// The file in the installation folder that records the version of the last
// signed upgrade installed; installed with the upgrade's files.
inline constexpr const char* kInstalledVersionName = "QuotivaUpgrade.version";

}  // namespace qv
