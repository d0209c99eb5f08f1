#include "app/upgrade_run.h"

#include <algorithm>

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
            if (FetchingManifest()) {
                ManifestArrived();
                break;
            }
            if (signed_.active) {
                // Size and SHA-256 as signed, or nothing is installed (a
                // file pieced together from transfers that broke off gets
                // one more whole transfer first).
                const ManifestFile* file = signed_.manifest.Find(current_.name);
                std::optional<FileDigest> digest = host_.Digest(current_.staged);
                if (!file || !digest || !FileMatchesManifest(*file, *digest)) {
                    Attempt& attempt = signed_.attempts[current_.name];
                    if (attempt.resumed && !attempt.wholeRetried) {
                        attempt.wholeRetried = true;
                        attempt.fromZero = true;
                        attempt.resumed = false;
                        attempt.staged = current_.staged;
                        host_.Trace(current_.name + " not as signed after resuming: fetched once more whole");
                        current_ = Current{};
                        StartNextDownload();
                        break;
                    }
                    FailSigned(current_.name + kTextNotAsSigned.In(language_));
                    break;
                }
            }
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
            // A signed upgrade's file goes on from what arrived; otherwise
            // the client has closed the transfer, and what it wrote goes.
            if (signed_.active && !current_.staged.empty() && !FetchingManifest() && host_.IsConnected() &&
                Resume("time-out"))
                break;
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
    if (signed_.active && !current_.staged.empty() && host_.IsConnected()) {
        // A signed upgrade is installed whole or not at all.
        const std::string name = current_.name;
        if (!FetchingManifest()) {
            // A transfer that broke off (a data connection lost, a file cut
            // short, a transient 4xx, a REST that got nowhere) goes on.
            const bool noProgress =
                current_.offset > 0 && host_.Files().FileSize(current_.staged) <= current_.offset;
            const bool brokeOff = code >= 10000 || (code >= 400 && code < 500) ||
                                  (code == kFtpErrIncomplete && text && std::string_view(text).rfind("Transfer incomplete", 0) == 0);
            if ((brokeOff || noProgress) && Resume(std::to_string(code))) return;
        }
        DiscardCurrent();
        host_.ShowFtpError(code, text ? text : "");
        FailSigned(FetchingManifest() ? kTextBadSignature.In(language_) : name + kTextNotFetched.In(language_));
        return;
    }
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
    const NameFold fold = [this](std::string_view name) { return host_.FoldName(name); };
    std::vector<std::string> names = NamesFromListing(host_.ListingLines(), &duplicates, fold);
    // The manifest, its signature and the run's own record of the installed
    // version are never files to install.
    bool manifest = false;
    std::erase_if(names, [&](const std::string& name) {
        const std::string key = WindowsNameKey(name, fold);
        if (key == WindowsNameKey(kManifestFileName, fold)) manifest = true;
        return key == WindowsNameKey(kManifestFileName, fold) || key == WindowsNameKey(kManifestSignatureFileName, fold) ||
               key == WindowsNameKey(kInstalledVersionName, fold);
    });
    signed_ = SignedRun{};
    if (manifest) {
        // A signed upgrade: its manifest and signature come first.
        signed_.active = true;
        signed_.listed = std::move(names);
        queue_ = {std::string(kManifestFileName), std::string(kManifestSignatureFileName)};
        host_.Trace("signed upgrade: fetching the manifest");
    } else {
        queue_ = std::move(names);
    }
    if (!duplicates.empty()) {
        // Windows holds one file for all of them: the first name is
        // downloaded, and the user hears which others were left out.
        std::string text = kTextDuplicateNames.In(language_);
        for (const std::string& name : duplicates) text += "\r\n" + name;
        host_.ShowNotice(text);
    }
    if (!manifest && signedRequired_) {
        // Fail closed: without the publisher's signature, nothing.
        signed_.active = true;
        FailSigned(kTextNoManifest.In(language_));
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
    int64_t offset = 0;
    Attempt* attempt = signed_.active ? &signed_.attempts[head] : nullptr;
    if (attempt && !attempt->staged.empty()) {
        // A transfer that broke off goes on from the bytes it left, unless
        // the server's REST got nowhere before.
        current_.staged = std::move(attempt->staged);
        attempt->staged.clear();
        offset = attempt->fromZero ? 0 : std::max<int64_t>(0, host_.Files().FileSize(current_.staged));
        if (offset > 0) attempt->resumed = true;
        host_.Trace("download " + head + " from " + std::to_string(offset));
    } else {
        host_.Trace("download " + head);
        // The data goes to a temporary file beside the installed file; its
        // failure to be made names the installed file.
        current_.staged = host_.BeginStaging(head);
    }
    current_.name = head;
    current_.offset = offset;
    DownloadStart started;
    try {
        started = host_.DownloadFile(head, current_.staged, offset);
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
    for (auto& [name, attempt] : signed_.attempts) {
        if (!attempt.staged.empty()) host_.DiscardStaged(attempt.staged);
        attempt.staged.clear();
    }
}

// ---- signed upgrades ----------------------------------------------------------------

bool UpgradeRun::FetchingManifest() const { return signed_.active && !signed_.verified; }

uint64_t UpgradeRun::InstalledVersion() {
    std::optional<std::string> text = host_.Files().ReadText(kInstalledVersionName);
    constexpr std::string_view prefix = "quotiva-installed-version ";
    if (!text || text->rfind(prefix, 0) != 0) return 0;
    uint64_t version = 0;
    for (size_t i = prefix.size(); i < text->size() && (*text)[i] >= '0' && (*text)[i] <= '9'; ++i)
        version = version * 10 + static_cast<uint64_t>((*text)[i] - '0');
    return version;
}

void UpgradeRun::ManifestArrived() {
    std::string text = host_.Files().ReadText(current_.staged).value_or("");
    host_.DiscardStaged(current_.staged);
    (current_.name == kManifestFileName ? signed_.manifestText : signed_.signatureText) = std::move(text);
    current_ = Current{};
    DropHead();
    if (queue_.empty()) VerifySigned();
    else StartNextDownload();
}

void UpgradeRun::VerifySigned() {
    std::optional<P256PublicKey> key = host_.SigningKey();
    const uint64_t installed = InstalledVersion();
    const NameFold fold = [this](std::string_view name) { return host_.FoldName(name); };
    ManifestCheck check;
    if (key) check = VerifyManifest(signed_.manifestText, signed_.signatureText, *key, kUpgradeProduct, installed,
                                    host_.Crypto(), fold);
    host_.Trace("manifest: " + std::string(check.verdict == ManifestVerdict::Ok ? "verified" : check.reason) +
                " (installed version " + std::to_string(installed) + ")");
    switch (check.verdict) {
        case ManifestVerdict::Ok: break;
        case ManifestVerdict::BadSignature: FailSigned(kTextBadSignature.In(language_)); return;
        case ManifestVerdict::WrongProduct: FailSigned(kTextWrongProduct.In(language_)); return;
        case ManifestVerdict::OlderVersion: FailSigned(kTextOlderVersion.In(language_)); return;
        case ManifestVerdict::Malformed: FailSigned(kTextBadManifest.In(language_)); return;
    }
    signed_.manifest = std::move(check.manifest);
    for (const ManifestFile& f : signed_.manifest.files) {
        if (WindowsNameKey(f.name, fold) == WindowsNameKey(kInstalledVersionName, fold)) {
            FailSigned(kTextBadManifest.In(language_));
            return;
        }
        if (std::find(signed_.listed.begin(), signed_.listed.end(), f.name) == signed_.listed.end()) {
            FailSigned(f.name + kTextNotOnServer.In(language_));
            return;
        }
    }
    // The files to fetch: the manifest's, but for those installed as it
    // says already (each installed file read once).
    queue_.clear();
    for (const ManifestFile& f : signed_.manifest.files) {
        if (host_.Files().FileSize(f.name) == static_cast<int64_t>(f.size)) {
            std::optional<FileDigest> digest = host_.Digest(f.name);
            if (digest && FileMatchesManifest(f, *digest)) {
                host_.Trace("current: " + f.name);
                continue;
            }
        }
        queue_.push_back(f.name);
    }
    signed_.verified = true;
    StartNextDownload();
}

void UpgradeRun::FailSigned(const std::string& text) {
    signed_.failure = text;
    host_.Trace("signed upgrade refused: " + text);
    DiscardAll();
    queue_.clear();
    host_.ShowNotice(text);
    // No file is left: the run ends once it may, installing nothing.
    StartNextDownload();
}

bool UpgradeRun::Resume(const std::string& why) {
    Attempt& attempt = signed_.attempts[current_.name];
    if (attempt.retries >= 2) return false;
    ++attempt.retries;
    // A REST that brought nothing (refused, or the server ignored it): the
    // next try starts from 0.
    if (current_.offset > 0 && host_.Files().FileSize(current_.staged) <= current_.offset) attempt.fromZero = true;
    attempt.staged = current_.staged;
    host_.Trace(current_.name + " broke off (" + why + "): try " + std::to_string(attempt.retries + 1));
    current_ = Current{};
    StartNextDownload();
    return true;
}

void UpgradeRun::Commit() {
    const bool signedOk = signed_.active && signed_.verified && signed_.failure.empty();
    if (!staged_.empty() || signedOk) {
        // A file that cannot go where it belongs (a folder stands there)
        // fails alone; the others are installed together. A signed upgrade
        // is installed whole or not at all.
        std::vector<InstallEntry> entries;
        bool blocked = false;
        for (const InstallEntry& e : staged_) {
            if (host_.Files().Kind(e.target) == PathKind::Folder) {
                host_.DiscardStaged(e.staged);
                host_.ReportFailure(e.target);
                blocked = true;
                continue;
            }
            entries.push_back(e);
        }
        staged_.clear();
        if (signed_.active && blocked) {
            for (const InstallEntry& e : entries) host_.DiscardStaged(e.staged);
            entries.clear();
        }
        // A signed upgrade records its version with its files (or alone,
        // when every file was current already).
        size_t records = 0;
        if (signedOk && !blocked && (!entries.empty() || signed_.manifest.version != InstalledVersion())) {
            const std::string text = "quotiva-installed-version " + std::to_string(signed_.manifest.version) + "\n";
            InstallEntry record;
            record.target = kInstalledVersionName;
            record.staged = host_.StageText(kInstalledVersionName, text);
            record.size = static_cast<int64_t>(text.size());
            entries.push_back(record);
            records = 1;
        }
        for (;;) {
            if (entries.empty()) break;
            InstallResult result =
                InstallTogether(host_.Files(), entries, [this](std::string_view line) { host_.Trace(line); });
            if (result.kind == InstallResult::Installed) {
                installed_ = static_cast<int32_t>(entries.size() - records);
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
    else if (signed_.verified && signed_.failure.empty()) host_.ShowNotice(kTextUpToDate.In(language_));
    host_.CloseWindow();
}

}  // namespace qv
