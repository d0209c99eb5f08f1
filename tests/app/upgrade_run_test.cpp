// The upgrade run's core with a host that records what the run asks of the
// window and a file system in memory: its phases, what each event does in
// each phase, and the files installed together at the end (portable: runs
// natively and under Wine).
#include "app/upgrade_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/ecdsa_signature.h"
#include "app/upgrade_manifest.h"
#include "app/upgrade_names.h"
#include "app/upgrade_texts.h"
#include "tests/app/memory_install_files.h"

namespace qv {
namespace {

using Lines = std::vector<std::string>;

class RecordingHost : public UpgradeRunHost {
public:
    test::MemoryFiles files;
    Lines calls;
    Lines trace;
    bool connected = false;
    bool logInOpens = true;
    DownloadStart downloadStart = DownloadStart::Started;
    // Answers of the Retry/Cancel box, first first (Cancel when none left).
    std::vector<bool> retries;
    std::vector<std::string> listing;
    int stagedNumber = 0;

    void SetStatus(const std::string& text) override { calls.push_back("status " + text); }
    void RestoreCaption() override { calls.push_back("caption"); }
    void ClearReceived() override { calls.push_back("clear received"); }
    void AddReceived(const std::string& name) override { calls.push_back("received " + name); }
    void AddListingLine(const std::string& line) override { calls.push_back("listing line " + line); }
    void SetListing(const std::string& text) override {
        listing.clear();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos) end = text.size();
            listing.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        calls.push_back("listing set");
    }
    Lines ListingLines() override { return listing; }
    void ClearListing() override { calls.push_back("listing cleared"); }
    void SetTimer(int timer, bool on) override {
        calls.push_back("timer " + std::to_string(timer) + (on ? " on" : " off"));
    }
    void Pause(unsigned milliseconds) override { calls.push_back("pause " + std::to_string(milliseconds)); }
    void ShowNotice(const std::string& text) override { calls.push_back("notice " + text); }
    void ShowFtpError(int32_t code, const std::string& text) override {
        calls.push_back("error box " + std::to_string(code) + " " + text);
    }
    bool AskRetry(const std::string& text) override {
        calls.push_back("ask " + text);
        if (retries.empty()) return false;
        bool retry = retries.front();
        retries.erase(retries.begin());
        if (retry && onRetry) onRetry();
        return retry;
    }
    std::function<void()> onRetry;
    void ReportFailure(const std::string& file) override { calls.push_back("failure " + file); }
    void CloseWindow() override { calls.push_back("close"); }
    void ApplySettings() override { calls.push_back("settings"); }
    bool IsConnected() override { return connected; }
    bool LogIn() override {
        calls.push_back("login");
        connected = logInOpens;
        return logInOpens;
    }
    void LogOut() override {
        calls.push_back("logout");
        connected = false;
    }
    void ChangeFolder(const std::string& folder) override { calls.push_back("cwd " + folder); }
    void QueryFolder() override { calls.push_back("pwd"); }
    void ListFolder() override { calls.push_back("nlst"); }
    DownloadStart DownloadFile(const std::string& remote, const std::string& local, int64_t restartOffset) override {
        calls.push_back("download " + remote + " -> " + local +
                        (restartOffset > 0 ? " from " + std::to_string(restartOffset) : ""));
        return downloadStart;
    }
    int32_t BytesTransferred() override { return 1234; }
    std::string FoldName(std::string_view name) override { return FoldAsciiLetters(name); }
    void NewStagingRun() override {}
    std::string BeginStaging(const std::string& installed) override {
        size_t slash = installed.find_last_of('/');
        std::string name = (slash == std::string::npos ? "" : installed.substr(0, slash + 1)) + "~qv" +
                           std::to_string(9000 + stagedNumber++) + ".tmp";
        files.files[name] = "";
        return name;
    }
    void DiscardStaged(const std::string& staged) override {
        calls.push_back("discard " + staged);
        files.files.erase(staged);
    }
    InstallFiles& Files() override { return files; }
    void Trace(std::string_view line) override { trace.emplace_back(line); }
    std::string StageText(const std::string& installed, const std::string& text) override {
        std::string staged = BeginStaging(installed);
        files.files[staged] = text;
        return staged;
    }
    UpgradeCrypto& Crypto() override { return crypto; }
    std::optional<P256PublicKey> SigningKey() override { return key; }
    std::optional<FileDigest> Digest(const std::string& path) override {
        auto f = files.files.find(path);
        if (f == files.files.end()) return std::nullopt;
        return FileDigest{f->second.size(), FakeCrypto::Hash(f->second)};
    }

    // A stand-in for SHA-256 and ECDSA that keeps the run's logic honest:
    // a file's digest depends on every byte, and a signature verifies only
    // for the digest it was made for under the key it was made with.
    struct FakeCrypto : UpgradeCrypto {
        static Sha256Digest Hash(std::string_view bytes) {
            Sha256Digest d{};
            for (size_t part = 0; part < 4; ++part) {
                uint64_t h = 1469598103934665603ull ^ (part * 0x9E3779B97F4A7C15ull);
                for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
                for (size_t i = 0; i < 8; ++i) d[part * 8 + i] = static_cast<uint8_t>(h >> (8 * i));
            }
            return d;
        }
        bool Sha256(std::string_view bytes, Sha256Digest& digest) override {
            digest = Hash(bytes);
            return true;
        }
        bool VerifyP256(const P256PublicKey& k, const Sha256Digest& digest, const P256Signature& signature) override {
            return std::equal(digest.begin(), digest.end(), signature.begin()) &&
                   std::equal(k.begin(), k.begin() + 32, signature.begin() + 32);
        }
        static std::string Sign(std::string_view text, const P256PublicKey& k) {
            P256Signature signature{};
            Sha256Digest digest = Hash(text);
            std::copy(digest.begin(), digest.end(), signature.begin());
            std::copy(k.begin(), k.begin() + 32, signature.begin() + 32);
            return WriteDerSignature(signature);
        }
    } crypto;
    std::optional<P256PublicKey> key = P256PublicKey{7, 7, 7};

    // The calls from `from` on, and forgets them.
    Lines Take() {
        Lines out;
        out.swap(calls);
        return out;
    }
};

class UpgradeRunTest : public ::testing::Test {
public:
    UpgradeRunTest() {
        host.files.files = {{"QVX.exe", "old exe"}, {"qvxchart.dll", "old dll"}};
        run.SetLanguage(0);
    }
    // From the click to the queue filled from this listing.
    void ToQueueFilled(const std::string& listing) {
        run.DownloadClicked();
        run.Status(scConnected, "Ready");
        run.Status(scLoggedIn, nullptr);
        run.Status(scCurrentFolder, "/");
        run.Status(scInfoText, "");  // the login folder's listing
        run.Timer3();
        run.Status(scOperationComplete, nullptr);
        run.Status(scCurrentFolder, "/QVX_upgrade");
        run.Status(scInfoText, listing.c_str());
        host.Take();
    }
    // The download under way arrives with these bytes.
    void Arrive(const std::string& content) {
        host.files.files[run.CurrentStaged()] = content;
        run.Status(scTransferComplete, nullptr);
    }
    Lines Transitions() const {
        Lines out;
        for (const std::string& line : host.trace)
            if (line.rfind("[", 0) == 0) out.push_back(line);
        return out;
    }

    RecordingHost host;
    UpgradeRun run{host};
};

TEST_F(UpgradeRunTest, AWholeRunInstallsTheFilesTogetherAfterTheLastHasArrived) {
    run.DownloadClicked();
    EXPECT_EQ(host.Take(), (Lines{"status Please wait.....", "clear received", "settings", "pause 1000",
                                  "login", "timer 3 on"}));
    EXPECT_EQ(run.Phase(), UpgradePhase::LoggingIn);
    run.Timer3();  // not logged in yet
    run.Status(scConnected, "Ready");
    run.Status(scLoggedIn, nullptr);
    run.Status(scCurrentFolder, "/");
    run.Status(scInfoText, "other.txt\r\n");
    EXPECT_EQ(host.Take(), (Lines{"status Connected to Main Server", "status Login success", "pwd", "nlst"}));
    run.Timer3();
    EXPECT_EQ(run.Phase(), UpgradePhase::UpgradeFolder);
    EXPECT_EQ(host.Take(), (Lines{"timer 3 off", "timer 1 on", "cwd //QVX_upgrade", "timer 2 on"}));
    run.Timer2();  // the queue is not filled yet
    run.Status(scOperationComplete, nullptr);
    run.Status(scCurrentFolder, "/QVX_upgrade");
    run.Status(scInfoText, "QVX.exe\r\nqvxchart.dll\r\nnews.dat\r\n");
    EXPECT_EQ(host.Take(), (Lines{"listing line operation complete", "pwd", "nlst", "listing set",
                                  "status Being Login....", "pause 1000"}));
    EXPECT_EQ(run.DownloadQueue(), (Lines{"QVX.exe", "qvxchart.dll", "news.dat"}));
    run.Timer1();  // files are left
    run.Timer2();
    EXPECT_EQ(run.Phase(), UpgradePhase::Downloading);
    EXPECT_EQ(host.Take(), (Lines{"timer 2 off", "status QVX.exe", "download QVX.exe -> ~qv9000.tmp"}));
    run.Status(scProgress, nullptr);
    Arrive("NEW EXE");
    Arrive("NEW DLL");
    Arrive("NEWS");
    EXPECT_EQ(host.Take(), (Lines{"status QVX.exe Downloading...1234", "status QVX.exe Download completed",
                                  "received QVX.exe", "status qvxchart.dll", "download qvxchart.dll -> ~qv9001.tmp",
                                  "status qvxchart.dll Download completed", "received qvxchart.dll",
                                  "status news.dat", "download news.dat -> ~qv9002.tmp",
                                  "status news.dat Download completed", "received news.dat"}));
    // Nothing is installed before the downloads end.
    EXPECT_EQ(host.files.files.at("QVX.exe"), "old exe");
    EXPECT_TRUE(run.QueueExhausted());
    EXPECT_EQ(run.Staged().size(), 3u);
    run.Timer1();
    EXPECT_EQ(host.Take(), (Lines{"timer 1 off", "logout", "logout", "notice Require file had been completely downloaded",
                                  "close"}));
    EXPECT_EQ(host.files.files, (std::map<std::string, std::string>{
                                    {"QVX.exe", "NEW EXE"}, {"qvxchart.dll", "NEW DLL"}, {"news.dat", "NEWS"}}));
    EXPECT_EQ(run.InstalledCount(), 3);
    EXPECT_EQ(run.DownloadedCount(), 3);
    EXPECT_EQ(Transitions(), (Lines{"[Idle] -> [LoggingIn] (Download File)",
                                    "[LoggingIn] -> [UpgradeFolder] (logged in)",
                                    "[UpgradeFolder] -> [Downloading] (queue filled)",
                                    "[Downloading] -> [Committing] (no file left)",
                                    "[Committing] -> [Finishing] (installed)"}));
}

// ---- one event in one phase ----------------------------------------------------------

struct EventRow {
    const char* name;
    std::function<void(UpgradeRunTest&, UpgradeRun&, RecordingHost&)> setup;
    std::function<void(UpgradeRun&, RecordingHost&)> event;
    UpgradePhase after;
    Lines calls;
    std::map<std::string, std::string> files;  // the installation afterwards (staged files included)
};

class UpgradeRunEvents : public UpgradeRunTest, public ::testing::WithParamInterface<EventRow> {
public:
    // Setups, as the rows use them.
    static void Idle(UpgradeRunTest&, UpgradeRun&, RecordingHost&) {}
    static void LoggingIn(UpgradeRunTest&, UpgradeRun& run, RecordingHost& host) { ToLoggedIn(run, host); }
    static void ToLoggedIn(UpgradeRun& run, RecordingHost& host) {
        run.DownloadClicked();
        run.Status(scConnected, "Ready");
        run.Status(scLoggedIn, nullptr);
        run.Status(scCurrentFolder, "/");
        host.Take();
    }
    static void UpgradeFolder(UpgradeRunTest&, UpgradeRun& run, RecordingHost& host) {
        ToLoggedIn(run, host);
        run.Status(scInfoText, "");
        run.Timer3();
        host.Take();
    }
    // QVX.exe arrived, qvxchart.dll under way.
    static void Downloading(UpgradeRunTest& t, UpgradeRun& run, RecordingHost& host) {
        t.ToQueueFilled("QVX.exe\r\nqvxchart.dll\r\n");
        run.Timer2();
        t.Arrive("NEW EXE");
        host.Take();
    }
};

TEST_P(UpgradeRunEvents, Row) {
    const EventRow& row = GetParam();
    row.setup(*this, run, host);
    row.event(run, host);
    EXPECT_EQ(host.Take(), row.calls);
    EXPECT_EQ(run.Phase(), row.after);
    if (!row.files.empty()) {
        EXPECT_EQ(host.files.files, row.files);
    }
}

using E = UpgradeRunEvents;
using P = UpgradePhase;
const std::map<std::string, std::string> kOld{{"QVX.exe", "old exe"}, {"qvxchart.dll", "old dll"}};

INSTANTIATE_TEST_SUITE_P(
    Rows, UpgradeRunEvents,
    ::testing::Values(
        EventRow{"idle_timers_do_nothing", E::Idle,
                 [](UpgradeRun& r, RecordingHost&) {
                     r.Timer1();
                     r.Timer2();
                     r.Timer3();
                 },
                 P::Idle, {}, kOld},
        EventRow{"login_refused_without_connection", E::Idle,
                 [](UpgradeRun& r, RecordingHost& h) {
                     h.logInOpens = false;
                     r.DownloadClicked();
                 },
                 P::LoggingIn,
                 {"status Please wait.....", "clear received", "settings", "pause 1000", "login"}},
        EventRow{"login_folder_listing_refused_is_no_box", E::LoggingIn,
                 [](UpgradeRun& r, RecordingHost&) {
                     r.Error(450, "450 No files found\r\n");
                     r.Timer3();
                 },
                 P::UpgradeFolder, {"timer 3 off", "timer 1 on", "cwd //QVX_upgrade", "timer 2 on"}},
        EventRow{"login_error_while_waiting_keeps_waiting", E::LoggingIn,
                 [](UpgradeRun& r, RecordingHost&) {
                     r.Status(scInfoText, "");
                     r.Error(500, "500 What?\r\n");
                 },
                 P::LoggingIn, {"error box 500 500 What?\r\n"}},
        EventRow{"missing_upgrade_folder_ends_the_run_without_a_message", E::UpgradeFolder,
                 [](UpgradeRun& r, RecordingHost&) {
                     r.Error(550, "550 No such folder\r\n");
                     r.Timer1();
                 },
                 P::Finishing, {"error box 550 550 No such folder\r\n", "timer 1 off", "logout", "logout", "close"},
                 kOld},
        EventRow{"duplicate_names_are_named_in_one_box", E::UpgradeFolder,
                 [](UpgradeRun& r, RecordingHost&) {
                     r.Status(scOperationComplete, nullptr);
                     r.Status(scCurrentFolder, "/QVX_upgrade");
                     r.Status(scInfoText, "QVX.exe\r\nqvx.EXE\r\nQVX.exe.\r\n");
                 },
                 P::UpgradeFolder,
                 {"listing line operation complete", "pwd", "nlst", "listing set",
                  std::string("notice ") + kTextDuplicateNames.english + "\r\nqvx.EXE", "status Being Login....",
                  "pause 1000"}},
        EventRow{"a_failed_file_fails_alone", E::Downloading,
                 [](UpgradeRun& r, RecordingHost& h) {
                     h.connected = true;
                     r.Error(426, "426 Aborted\r\n");
                 },
                 P::Downloading, {"discard ~qv9001.tmp", "error box 426 426 Aborted\r\n"},
                 {{"QVX.exe", "old exe"}, {"qvxchart.dll", "old dll"}, {"~qv9000.tmp", "NEW EXE"}}},
        EventRow{"a_lost_session_stands_until_cancel", E::Downloading,
                 [](UpgradeRun& r, RecordingHost& h) {
                     h.connected = false;
                     r.Error(421, "421 Bye\r\n");
                     r.Status(scLoggedOut, nullptr);
                     r.Timer1();
                     r.Timer2();
                 },
                 P::Downloading,
                 {"discard ~qv9001.tmp", "error box 421 421 Bye\r\n", "status Logged out"},
                 {{"QVX.exe", "old exe"}, {"qvxchart.dll", "old dll"}, {"~qv9000.tmp", "NEW EXE"}}},
        EventRow{"a_timeout_drops_the_file_under_way", E::Downloading,
                 [](UpgradeRun& r, RecordingHost&) { r.Status(scTransferTimedOut, nullptr); },
                 P::Downloading, {"discard ~qv9001.tmp", "notice Transfer timed out"}},
        EventRow{"cancel_installs_nothing", E::Downloading,
                 [](UpgradeRun& r, RecordingHost&) { r.CancelClicked(); },
                 P::Idle, {"logout", "discard ~qv9001.tmp", "discard ~qv9000.tmp", "listing cleared", "close"}, kOld},
        EventRow{"closing_the_window_installs_nothing", E::Downloading,
                 [](UpgradeRun& r, RecordingHost&) { r.WindowClosing(); },
                 P::Idle, {"discard ~qv9001.tmp", "discard ~qv9000.tmp"}, kOld}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the commit ----------------------------------------------------------------------------

TEST_F(UpgradeRunTest, AFileInUseAsksToCloseQuotivaAndRetryInstallsEverything) {
    ToQueueFilled("QVX.exe\r\nqvxchart.dll\r\n");
    run.Timer2();
    Arrive("NEW EXE");
    Arrive("NEW DLL");
    host.files.inUse = {"QVX.exe"};
    host.retries = {true, true};
    int asked = 0;
    host.onRetry = [&] {
        // Quotiva is closed after the second box.
        if (++asked == 2) host.files.inUse.clear();
    };
    host.Take();
    run.Timer1();
    const std::string box = "ask QVX.exe" + std::string(kTextInUse.english);
    EXPECT_EQ(host.Take(), (Lines{"timer 1 off", "logout", box, box, "logout",
                                  "notice Require file had been completely downloaded", "close"}));
    EXPECT_EQ(host.files.files,
              (std::map<std::string, std::string>{{"QVX.exe", "NEW EXE"}, {"qvxchart.dll", "NEW DLL"}}));
}

TEST_F(UpgradeRunTest, CancelInTheInUseBoxKeepsTheInstalledFilesAndRemovesTheStagedOnes) {
    ToQueueFilled("QVX.exe\r\nqvxchart.dll\r\n");
    run.Timer2();
    Arrive("NEW EXE");
    Arrive("NEW DLL");
    host.files.inUse = {"qvxchart.dll"};
    host.Take();
    run.Timer1();
    EXPECT_EQ(host.Take(), (Lines{"timer 1 off", "logout", "ask qvxchart.dll" + std::string(kTextInUse.english),
                                  "discard ~qv9000.tmp", "discard ~qv9001.tmp", "logout", "close"}));
    EXPECT_EQ(host.files.files, kOld);
    EXPECT_EQ(run.InstalledCount(), 0);
    EXPECT_EQ(run.Phase(), UpgradePhase::Finishing);
}

TEST_F(UpgradeRunTest, AFolderWhereAFileBelongsFailsThatFileAloneAtTheCommit) {
    host.files.files.erase("QVX.exe");
    host.files.folders = {"QVX.exe"};
    ToQueueFilled("QVX.exe\r\nqvxchart.dll\r\n");
    run.Timer2();
    Arrive("NEW EXE");
    Arrive("NEW DLL");
    host.Take();
    run.Timer1();
    EXPECT_EQ(host.Take(), (Lines{"timer 1 off", "logout", "discard ~qv9000.tmp", "failure QVX.exe", "logout",
                                  "notice Require file had been completely downloaded", "close"}));
    EXPECT_EQ(host.files.files, (std::map<std::string, std::string>{{"qvxchart.dll", "NEW DLL"}}));
}

TEST_F(UpgradeRunTest, AClientThatTakesNoDownloadLeavesNothingStaged) {
    ToQueueFilled("QVX.exe\r\n");
    host.downloadStart = DownloadStart::Refused;
    run.Timer2();
    EXPECT_EQ(host.Take(), (Lines{"timer 2 off", "status QVX.exe", "download QVX.exe -> ~qv9000.tmp",
                                  "discard ~qv9000.tmp"}));
    EXPECT_TRUE(run.CurrentStaged().empty());
    EXPECT_EQ(host.files.files, kOld);
}

// ---- signed upgrades -------------------------------------------------------------------

class SignedRunTest : public UpgradeRunTest {
public:
    // The upgrade folder: these files, a manifest of them at this version,
    // signed with the program's key (or another one).
    void Publish(std::map<std::string, std::string> files, uint64_t version, bool otherKey = false) {
        served = std::move(files);
        UpgradeManifest m;
        m.product = "Quotiva";
        m.version = version;
        for (const auto& [name, content] : served)
            m.files.push_back({name, content.size(), RecordingHost::FakeCrypto::Hash(content)});
        manifest = PrintManifest(m);
        P256PublicKey signer = *host.key;
        if (otherKey) signer[0] ^= 1;
        signature = RecordingHost::FakeCrypto::Sign(manifest, signer);
    }
    // The listing shows the folder; the manifest and signature arrive.
    void ListAndVerify(const std::string& extraListing = "") {
        std::string listing = std::string(kManifestFileName) + "\r\n" + std::string(kManifestSignatureFileName) + "\r\n";
        for (const auto& [name, content] : served) listing += name + "\r\n";
        ToQueueFilled(listing + extraListing);
        run.Timer2();
        Arrive(manifest);
        Arrive(signature);
    }
    // The download under way brings the served bytes (or these).
    void Serve(std::optional<std::string> bytes = std::nullopt) {
        const std::string name = host.trace.empty() ? "" : CurrentName();
        Arrive(bytes ? *bytes : served.at(name));
    }
    std::string CurrentName() const {
        for (auto line = host.trace.rbegin(); line != host.trace.rend(); ++line)
            if (line->rfind("download ", 0) == 0) {
                std::string rest = line->substr(9);
                return rest.substr(0, rest.find(" from "));
            }
        return "";
    }
    std::map<std::string, std::string> served;
    std::string manifest, signature;
};

TEST_F(SignedRunTest, OnlyWhatIsSignedAndNotCurrentIsFetchedAndTheVersionIsRecordedWithIt) {
    host.files.files["qvxchart.dll"] = "NEW DLL";  // current already
    Publish({{"QVX.exe", "NEW EXE"}, {"qvxchart.dll", "NEW DLL"}}, 7);
    ListAndVerify("unsigned.txt\r\n");
    EXPECT_TRUE(run.Signed());
    // The listed file the manifest does not name is left alone, and the
    // current one is not fetched.
    EXPECT_EQ(run.DownloadQueue(), Lines{"QVX.exe"});
    Serve();
    host.Take();
    run.Timer1();
    EXPECT_EQ(host.Take(), (Lines{"timer 1 off", "logout", "logout",
                                  "notice Require file had been completely downloaded", "close"}));
    EXPECT_EQ(host.files.files, (std::map<std::string, std::string>{{"QVX.exe", "NEW EXE"},
                                                                     {"qvxchart.dll", "NEW DLL"},
                                                                     {kInstalledVersionName, "quotiva-installed-version 7\n"}}));
    EXPECT_TRUE(run.SignedFailure().empty());
}

TEST_F(SignedRunTest, ASecondRunFindsEverythingCurrentAndSaysSo) {
    host.files.files = {{"QVX.exe", "NEW EXE"}, {kInstalledVersionName, "quotiva-installed-version 7\n"}};
    Publish({{"QVX.exe", "NEW EXE"}}, 7);
    ListAndVerify();
    EXPECT_TRUE(run.DownloadQueue().empty());
    EXPECT_TRUE(run.QueueExhausted());
    host.Take();
    run.Timer1();
    EXPECT_EQ(host.Take(), (Lines{"timer 1 off", "logout", "logout",
                                  "notice Quotiva is up to date; nothing needed to be downloaded.", "close"}));
    // Only the manifest and its signature were fetched.
    int downloads = 0;
    for (const std::string& line : host.trace) downloads += line.rfind("download ", 0) == 0;
    EXPECT_EQ(downloads, 2);
}

struct Refusal {
    const char* name;
    std::function<void(SignedRunTest&)> tamper;
    std::string notice;
};

class SignedRunRefusals : public SignedRunTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SignedRunRefusals, NothingIsFetchedOrInstalledAndOneMessageSaysWhy) {
    host.files.files[kInstalledVersionName] = "quotiva-installed-version 5\n";
    Publish({{"QVX.exe", "NEW EXE"}, {"qvxchart.dll", "NEW DLL"}}, 6);
    GetParam().tamper(*this);
    const auto before = host.files.files;
    ListAndVerify();
    EXPECT_EQ(run.SignedFailure(), GetParam().notice);
    EXPECT_TRUE(run.QueueExhausted());
    run.Timer1();
    int notices = 0;
    for (const std::string& call : host.calls) notices += call.rfind("notice ", 0) == 0;
    EXPECT_EQ(notices, 1);
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "notice " + GetParam().notice), host.calls.end());
    EXPECT_EQ(host.files.files, before);
    for (const std::string& line : host.trace) EXPECT_NE(line, "download QVX.exe");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignedRunRefusals,
    ::testing::Values(
        Refusal{"another_key", [](SignedRunTest& t) { t.Publish(t.served, 6, true); },
                kTextBadSignature.english},
        Refusal{"manifest_edited_after_signing", [](SignedRunTest& t) { t.manifest[t.manifest.size() - 2] ^= 1; },
                kTextBadSignature.english},
        Refusal{"signature_cut_short", [](SignedRunTest& t) { t.signature.resize(t.signature.size() - 1); },
                kTextBadSignature.english},
        Refusal{"older_than_installed", [](SignedRunTest& t) { t.Publish(t.served, 4); },
                kTextOlderVersion.english},
        Refusal{"no_key_in_the_program", [](SignedRunTest& t) { t.host.key.reset(); }, kTextBadSignature.english}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SignedRunTest, AFileTheManifestNamesButTheFolderLacksFailsTheRun) {
    Publish({{"QVX.exe", "NEW EXE"}, {"gone.dll", "X"}}, 1);
    std::string listing = std::string(kManifestFileName) + "\r\n" + std::string(kManifestSignatureFileName) + "\r\nQVX.exe\r\n";
    ToQueueFilled(listing);
    run.Timer2();
    Arrive(manifest);
    Arrive(signature);
    EXPECT_EQ(run.SignedFailure(), "gone.dll" + std::string(kTextNotOnServer.english));
    EXPECT_TRUE(run.DownloadQueue().empty());
}

TEST_F(SignedRunTest, OneChangedByteInAServedFileInstallsNothingAndNamesTheFile) {
    Publish({{"QVX.exe", "NEW EXE"}, {"qvxchart.dll", "NEW DLL"}}, 1);
    ListAndVerify();
    Serve();
    Serve("NEW DLM");
    EXPECT_EQ(run.SignedFailure(), "qvxchart.dll" + std::string(kTextNotAsSigned.english));
    run.Timer1();
    EXPECT_EQ(host.files.files, kOld);
    EXPECT_EQ(run.InstalledCount(), 0);
}

TEST_F(SignedRunTest, ATransferThatBreaksOffGoesOnFromItsStagedBytes) {
    Publish({{"QVX.exe", "0123456789"}}, 1);
    ListAndVerify();
    // Six bytes arrive, then the server's 426; the client is still there.
    const std::string staged = run.CurrentStaged();
    host.files.files[staged] = "012345";
    host.Take();
    run.Error(426, "426 Connection closed; transfer aborted.\r\n");
    EXPECT_EQ(host.Take(), (Lines{"status QVX.exe", "download QVX.exe -> " + staged + " from 6"}));
    // The resumed transfer brings the rest.
    host.files.files[staged] = "0123456789";
    run.Status(scTransferComplete, nullptr);
    run.Timer1();
    EXPECT_EQ(host.files.files.at("QVX.exe"), "0123456789");
}

TEST_F(SignedRunTest, ARestThatGetsNowhereStartsFromZero) {
    Publish({{"QVX.exe", "0123456789"}}, 1);
    ListAndVerify();
    const std::string staged = run.CurrentStaged();
    host.files.files[staged] = "0123";
    run.Error(10054, nullptr);  // the data connection broke: resumed from 4
    host.Take();
    run.Error(502, "502 REST not implemented.\r\n");  // the REST brought nothing
    EXPECT_EQ(host.Take(), (Lines{"status QVX.exe", "download QVX.exe -> " + staged}));
    host.files.files[staged] = "0123456789";
    run.Status(scTransferComplete, nullptr);
    EXPECT_TRUE(run.SignedFailure().empty());
    run.Timer1();
    EXPECT_EQ(host.files.files.at("QVX.exe"), "0123456789");
}

TEST_F(SignedRunTest, APiecedFileThatDoesNotMatchIsFetchedOnceMoreWhole) {
    Publish({{"QVX.exe", "0123456789"}}, 1);
    ListAndVerify();
    const std::string staged = run.CurrentStaged();
    host.files.files[staged] = "01234";
    run.Error(426, "426 Aborted\r\n");
    host.files.files[staged] = "01234XXXXX";  // the server's rest was another file's
    host.Take();
    run.Status(scTransferComplete, nullptr);
    EXPECT_EQ(host.Take(), (Lines{"status QVX.exe", "download QVX.exe -> " + staged}));
    host.files.files[staged] = "0123456789";
    run.Status(scTransferComplete, nullptr);
    EXPECT_TRUE(run.SignedFailure().empty());
    run.Timer1();
    EXPECT_EQ(host.files.files.at("QVX.exe"), "0123456789");
}

TEST_F(SignedRunTest, AfterTwoResumptionsAThirdBreakGivesUpAndInstallsNothing) {
    Publish({{"QVX.exe", "0123456789"}, {"qvxchart.dll", "NEW DLL"}}, 1);
    ListAndVerify();
    Serve();  // QVX.exe
    const std::string staged = run.CurrentStaged();
    for (int part = 1; part <= 3; ++part) {
        host.files.files[staged] = std::string(static_cast<size_t>(part), 'x');
        run.Error(426, "426 Aborted\r\n");
    }
    EXPECT_EQ(run.SignedFailure(), "qvxchart.dll" + std::string(kTextNotFetched.english));
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "error box 426 426 Aborted\r\n"), host.calls.end());
    run.Timer1();
    EXPECT_EQ(host.files.files, kOld);
}

TEST_F(SignedRunTest, ARequiredSignatureRefusesAFolderWithoutAManifest) {
    run.SetSignedUpgradesRequired(true);
    ToQueueFilled("QVX.exe\r\n");
    EXPECT_EQ(run.SignedFailure(), kTextNoManifest.english);
    EXPECT_TRUE(run.DownloadQueue().empty());
    run.Timer2();
    run.Timer1();
    EXPECT_EQ(host.files.files, kOld);
}

TEST_F(SignedRunTest, WithoutAManifestAndNotRequiredTheFolderIsTakenAsListedButNeverItsRecords) {
    ToQueueFilled("QVX.exe\r\nupgrade.manifest.sig\r\nQuotivaUpgrade.version\r\n");
    EXPECT_FALSE(run.Signed());
    EXPECT_EQ(run.DownloadQueue(), Lines{"QVX.exe"});
}

}  // namespace
}  // namespace qv
