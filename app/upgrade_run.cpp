#include "app/upgrade_run.h"

#include "app/upgrade_names.h"
#include "app/upgrade_texts.h"

namespace qv {

const char* UpgradePhaseName(UpgradePhase phase) {
    switch (phase) {
        case UpgradePhase::Idle: return "Idle";
        case UpgradePhase::LoggingIn: return "LoggingIn";
        case UpgradePhase::UpgradeFolder: return "UpgradeFolder";
        case UpgradePhase::Downloading: return "Downloading";
        case UpgradePhase::Committing: return "Committing";
        case UpgradePhase::Finishing: return "Finishing";
    }
    return "?";
}

void UpgradeRun::Transition(UpgradePhase to, std::string_view why) {
    const UpgradePhase from = phase_;
    phase_ = to;
    std::string line = "[";
    line += UpgradePhaseName(from);
    line += "] -> [";
    line += UpgradePhaseName(to);
    line += "] (";
    line += why;
    line += ")";
    host_.Trace(line);
}

// ---- the buttons -------------------------------------------------------------

void UpgradeRun::DownloadClicked() {
    host_.SetStatus(kTextPleaseWait.In(language_));
    host_.ClearReceived();
    StartUpgrade();
}

void UpgradeRun::StartUpgrade() {
    host_.NewStagingRun();
    login_ = Login{};
    host_.ApplySettings();
    const UpgradePhase before = phase_;
    Transition(UpgradePhase::LoggingIn, "Download File");
    host_.Pause(1000);
    if (host_.IsConnected()) {
        host_.SetTimer(3, true);
        return;
    }
    bool opened;
    try {
        opened = host_.LogIn();
    } catch (...) {
        // The connection could not even be opened (a name that resolves
        // nowhere): the report says why, and the run is where it was.
        Transition(before, "LogIn raised");
        throw;
    }
    if (opened) host_.SetTimer(3, true);
}

void UpgradeRun::CancelClicked() {
    host_.LogOut();
    DiscardAll();
    host_.ClearListing();
    queue_.clear();
    Transition(UpgradePhase::Idle, "Cancel");
    host_.CloseWindow();
}

void UpgradeRun::WindowClosing() {
    DiscardAll();
    if (phase_ != UpgradePhase::Idle) Transition(UpgradePhase::Idle, "window closed");
}

// ---- the timers ----------------------------------------------------------------

void UpgradeRun::Timer3() {
    // Waits until logged in and the login folder's listing has come.
    if (!(host_.IsConnected() && login_.loggedIn && login_.listed)) return;
    host_.SetTimer(3, false);
    queue_.clear();
    queueFilled_ = false;
    queueExhausted_ = false;
    Transition(UpgradePhase::UpgradeFolder, "logged in");
    host_.SetTimer(1, true);
    host_.ChangeFolder(remoteFolder_);
    host_.SetTimer(2, true);
}

void UpgradeRun::Timer2() {
    if (phase_ != UpgradePhase::UpgradeFolder || !queueFilled_) return;
    host_.SetTimer(2, false);
    Transition(UpgradePhase::Downloading, "queue filled");
    StartNextDownload();
}

void UpgradeRun::Timer1() {
    if (!queueExhausted_) return;
    host_.SetTimer(1, false);
    queueFilled_ = false;
    Transition(UpgradePhase::Committing, "no file left");
    host_.LogOut();
    Commit();
}

// ---- the client's events ----------------------------------------------------------

void UpgradeRun::Status(FtpStatusCode code, const char* text) {
    switch (code) {
        case scDisconnected:
            // The connection is gone, and with it a transfer under way.
            DiscardCurrent();
            host_.RestoreCaption();
            break;
        case scConnected: host_.SetStatus(kTextConnected.In(language_)); break;
        case scLoggedOut:
            DiscardCurrent();
            host_.SetStatus(kTextLoggedOut.In(language_));
            queue_.clear();
            break;
        case scLoggedIn:
            host_.SetStatus(kTextLoggedIn.In(language_));
            host_.QueryFolder();
            login_.loggedIn = true;
            break;
        case scOperationComplete:
            host_.AddListingLine(kTextOperationComplete);
            host_.QueryFolder();
            break;
        case scCurrentFolder:
            // Before the upgrade folder, the listing is the login folder's:
            // it only tells that the session is ready.
            login_.listing = phase_ != UpgradePhase::UpgradeFolder && !login_.listed;
            host_.ListFolder();
            break;
        case scInfoText:
            login_.listing = false;
            if (phase_ == UpgradePhase::UpgradeFolder && !queueFilled_) {
                host_.SetListing(text ? text : "");
                FillQueueFromListing();
            }
            login_.listed = true;
            break;
        case scProgress:
            host_.SetStatus(QueueHead() + " " + kTextDownloading.In(language_) +
                            std::to_string(host_.BytesTransferred()));
            break;
        case scTransferComplete: {
            // Only a download this run started and staged arrives; it stays
            // staged until the downloads end.
            if (current_.staged.empty()) break;
            InstallEntry arrived;
            arrived.target = current_.name;
            arrived.staged = current_.staged;
            arrived.size = host_.Files().FileSize(current_.staged);
            current_ = Current{};
            staged_.push_back(arrived);
            host_.Trace("staged " + arrived.target + " (" + std::to_string(arrived.size) + " bytes)");
            const std::string head = QueueHead();
            host_.SetStatus(head + " " + kTextDownloaded.In(language_));
            host_.AddReceived(head);
            ++downloaded_;
            if (!queue_.empty()) {
                DropHead();
                StartNextDownload();
            }
            break;
        }
        case scTransferTimedOut:
            // The client has closed the transfer; what it wrote goes.
            DiscardCurrent();
            host_.ShowNotice(kTextTransferTimedOut);
            break;
    }
}

void UpgradeRun::Error(int32_t code, const char* text) {
    if (login_.listing && host_.IsConnected()) {
        // The login folder's listing failed ("450 No files found" for an
        // empty folder, say): the user never sees that listing, and the
        // session is ready all the same.
        login_.listing = false;
        login_.listed = true;
        host_.Trace("login folder not listed: " + std::to_string(code));
        return;
    }
    login_.listing = false;
    // The client reports each failure once. One that ends a download (the
    // client has closed its file) fails exactly that file.
    const bool downloadFailed = !current_.staged.empty();
    DiscardCurrent();
    // A failure that ended the session leaves the client Unconnected before
    // this runs: no file can follow, and the run stands after the box until
    // Cancel rather than end as if the files had been fetched.
    const bool sessionLost = !host_.IsConnected();
    host_.ShowFtpError(code, text ? text : "");
    if (sessionLost) return;
    if (downloadFailed) {
        // The box may have been up for a while: the queue may have been
        // cleared meanwhile.
        DropHead();
        StartNextDownload();
    } else if (queue_.empty()) {
        // Before the upgrade folder was listed (or after its listing failed):
        // no file is left, and the run ends once it may.
        StartNextDownload();
    }
    // An error while files wait but none is being received failed no file.
}

// ---- the steps ---------------------------------------------------------------------

void UpgradeRun::FillQueueFromListing() {
    queue_.clear();
    std::vector<std::string> duplicates;
    queue_ = NamesFromListing(host_.ListingLines(), &duplicates,
                              [this](std::string_view name) { return host_.FoldName(name); });
    if (!duplicates.empty()) {
        // Windows holds one file for all of them: the first name is
        // downloaded, and the user hears which others were left out.
        std::string text = kTextDuplicateNames.In(language_);
        for (const std::string& name : duplicates) text += "\r\n" + name;
        host_.ShowNotice(text);
    }
    host_.SetStatus(kTextBeingLogin);
    host_.Pause(1000);
    queueFilled_ = true;
}

void UpgradeRun::StartNextDownload() {
    if (queue_.empty()) {
        queueExhausted_ = true;
        return;
    }
    const std::string head = queue_.front();
    host_.SetStatus(head);
    host_.Trace("download " + head);
    // The data goes to a temporary file beside the installed file; its
    // failure to be made names the installed file.
    current_.staged = host_.BeginStaging(head);
    current_.name = head;
    DownloadStart started;
    try {
        started = host_.DownloadFile(head, current_.staged);
    } catch (...) {
        DiscardCurrent();
        throw;
    }
    // A client that took nothing (its connection went a moment ago) writes
    // nothing: nothing stays staged, and the logout that follows ends the
    // run. One that cannot run the download reports why, and that report
    // fails this file.
    if (started == DownloadStart::Refused) DiscardCurrent();
}

void UpgradeRun::DiscardCurrent() {
    if (current_.staged.empty()) return;
    host_.DiscardStaged(current_.staged);
    current_ = Current{};
}

void UpgradeRun::DiscardAll() {
    DiscardCurrent();
    for (const InstallEntry& e : staged_) host_.DiscardStaged(e.staged);
    staged_.clear();
}

void UpgradeRun::Commit() {
    if (!staged_.empty()) {
        // A file that cannot go where it belongs (a folder stands there)
        // fails alone; the others are installed together.
        std::vector<InstallEntry> entries;
        for (const InstallEntry& e : staged_) {
            if (host_.Files().Kind(e.target) == PathKind::Folder) {
                host_.DiscardStaged(e.staged);
                host_.ReportFailure(e.target);
                continue;
            }
            entries.push_back(e);
        }
        staged_.clear();
        for (;;) {
            if (entries.empty()) break;
            InstallResult result =
                InstallTogether(host_.Files(), entries, [this](std::string_view line) { host_.Trace(line); });
            if (result.kind == InstallResult::Installed) {
                installed_ = static_cast<int32_t>(entries.size());
                host_.Trace("installed " + std::to_string(installed_) + " files");
                break;
            }
            if (result.kind == InstallResult::InUse &&
                host_.AskRetry(result.file + kTextInUse.In(language_))) {
                host_.Trace("retry");
                continue;
            }
            // Cancel, or a file that cannot be put in place: the
            // installation stays as it was (a stuck change is finished at
            // the next start), and nothing of this run is installed.
            if (result.kind != InstallResult::InUse) host_.ReportFailure(result.file);
            if (result.kind != InstallResult::Stuck)
                for (const InstallEntry& e : entries) host_.DiscardStaged(e.staged);
            host_.Trace("nothing installed");
            break;
        }
    }
    Transition(UpgradePhase::Finishing, installed_ > 0 ? "installed" : "nothing installed");
    FinishUpgrade();
}

void UpgradeRun::FinishUpgrade() {
    // A second logout: the connection is closed already, so nothing is sent,
    // but its wait handles the messages still pending.
    host_.LogOut();
    if (installed_ != 0) host_.ShowNotice(kTextAllDownloaded.In(language_));
    host_.CloseWindow();
}

}  // namespace qv
