#include "app/get_update_file.h"

#include "app/install_probe.h"
#include "app/upgrade_names.h"
#include "app/upgrade_texts.h"
#include "framework/application.h"
#include "framework/control_classes.h"
#include "framework/files.h"
#include "framework/win32_text.h"

#ifndef QUOTIVA_MAIN_SERVER_NAME
#error "QUOTIVA_MAIN_SERVER_NAME comes from the build (CMake cache variable QUOTIVA_MAIN_SERVER)"
#endif
#ifndef QUOTIVA_SPARE_SERVER_NAME
#error "QUOTIVA_SPARE_SERVER_NAME comes from the build (CMake cache variable QUOTIVA_SPARE_SERVER)"
#endif

namespace qv {

const char* const kMainServer = QUOTIVA_MAIN_SERVER_NAME;
const char* const kSpareServer = QUOTIVA_SPARE_SERVER_NAME;

std::string InstallFolder;
std::string RemoteFolder;
uint8_t LanguageIndex = 0;
std::unique_ptr<StringList> DownloadQueue;

namespace {

// Names compared as Windows compares them: every letter the system knows
// folded to its capital, not only ASCII ones.
std::string SystemNameFold(std::string_view name) {
    std::wstring wide = ToWide(name);
    if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return FromWide(wide, CP_UTF8);
}

}  // namespace

void RegisterApplicationClasses() {
    RegisterControlClasses();
    RegisterMultiLangClasses();
    RegisterFtpClasses();
}

GetUpdateFile::GetUpdateFile(Component* owner) : Form(owner) { RegisterHandlers(); }

GetUpdateFile::~GetUpdateFile() {
    // The form's components, the FTP client among them, were closed and
    // freed before this (the close box, or the end of the program in any
    // phase): the file of a download still under way is released, and its
    // temporary file can be removed.
    staged_.Discard();
}

void GetUpdateFile::RegisterHandlers() {
    RegisterHandler("FormCreate", &GetUpdateFile::FormCreate);
    RegisterHandler("FormClose", &GetUpdateFile::FormClose);
    RegisterHandler("FormDestroy", &GetUpdateFile::FormDestroy);
    RegisterHandler("btnDownloadClick", &GetUpdateFile::btnDownloadClick);
    RegisterHandler("btnCancelClick", &GetUpdateFile::btnCancelClick);
    RegisterHandler("Timer1Timer", &GetUpdateFile::Timer1Timer);
    RegisterHandler("Timer2Timer", &GetUpdateFile::Timer2Timer);
    RegisterHandler("Timer3Timer", &GetUpdateFile::Timer3Timer);
    RegisterHandler("FtpClient1FtpStatus", &GetUpdateFile::FtpClient1FtpStatus);
    RegisterHandler("FtpClient1FtpError", &GetUpdateFile::FtpClient1FtpError);
}

template <class T>
void GetUpdateFile::Bind(T*& field, const char* name) {
    field = dynamic_cast<T*>(FindComponent(name));
    if (!field) throw Exception(std::string("The window has no ") + name + " of the expected class");
}

void GetUpdateFile::BindComponents() {
    Bind(ProgramIcon, "ProgramIcon");
    Bind(Label1, "Label1");
    Bind(Label2, "Label2");
    Bind(Label3, "Label3");
    Bind(Label4, "Label4");
    Bind(Label5, "Label5");
    Bind(InfoMemo, "InfoMemo");
    Bind(Memo1, "Memo1");
    Bind(StatusBar1, "StatusBar1");
    Bind(btnDownload, "btnDownload");
    Bind(btnCancel, "btnCancel");
    Bind(UsePassiveMode, "UsePassiveMode");
    Bind(UseSpareSystem, "UseSpareSystem");
    Bind(MultiLang1, "MultiLang1");
    Bind(FtpClient1, "FtpClient1");
    Bind(FtpLog1, "FtpLog1");
    Bind(Timer1, "Timer1");
    Bind(Timer2, "Timer2");
    Bind(Timer3, "Timer3");
}

void GetUpdateFile::Loaded() {
    Form::Loaded();
    BindComponents();
}

void GetUpdateFile::FormCreate(Object*) {
    LanguageIndex = 1;
    SetGlobalLanguage(1);
    InstallFolder = ProbeInstallFolder(FileExistsAt);
    if (InstallFolder.empty()) {
        ShowNotice(kTextNotFound.In(LanguageIndex));
        Application::Instance().Terminate();
    }
    StatusBar1->SetSimpleText(InstallFolder);
    DownloadQueue = std::make_unique<StringList>();
    ReadyToDownload = false;
    QueueExhausted = false;
    ListingPhase = false;
    LoginListing = false;
    DownloadedCount = 0;
    SavedCaption = Caption();
}

void GetUpdateFile::FormClose(Object*, CloseAction&) { Application::Instance().Terminate(); }

void GetUpdateFile::FormDestroy(Object*) { DownloadQueue.reset(); }

// ---- the upgrade run --------------------------------------------------------

void GetUpdateFile::Pause(unsigned milliseconds) {
    // No input, timer, socket or FTP message is handled here: the run's
    // steps keep their order exactly as with a plain sleep. Only painting
    // and messages that other programs send (they wait for an answer: a
    // screen reader, a test driver, the system asking whether the window
    // still responds) are served, so the window shows what the step before
    // the pause wrote into it ("Please wait", the listing).
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) break;
        MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - elapsed, QS_SENDMESSAGE | QS_PAINT, 0);
        MSG msg;
        // Peeking serves the sent messages; only paint messages are taken.
        while (PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

std::string GetUpdateFile::QueueHead() const {
    return DownloadQueue && DownloadQueue->Count() > 0 ? DownloadQueue->Get(0) : std::string();
}

void GetUpdateFile::SetStatus(const std::string& text) { StatusBar1->SetSimpleText(text); }

void GetUpdateFile::ShowNotice(const std::string& text) {
    Application& app = Application::Instance();
    app.ShowMessageBox(nullptr, text, app.Title(), MB_OK | MB_TASKMODAL);
}

void GetUpdateFile::btnDownloadClick(Object*) {
    SetStatus(kTextPleaseWait.In(LanguageIndex));
    Memo1->Lines().Clear();
    StartUpgrade();
}

void GetUpdateFile::StartUpgrade() {
    // Each folder this run writes into is cleared of temporary files an
    // interrupted run left there before the first download into it.
    staged_.NewRun();
    ApplyFtpSettings();
    Pause(1000);
    if (FtpClient1->IsConnected()) {
        Timer3->SetEnabled(true);
        return;
    }
    // Errors of opening the connection (a host name that cannot be
    // resolved) reach the application's exception report.
    if (FtpClient1->LogIn()) Timer3->SetEnabled(true);
}

void GetUpdateFile::ApplyFtpSettings() {
    LoggedIn = false;
    ListingReceived = false;
    LoginListing = false;
    const bool spare = UseSpareSystem->Checked();
    FtpClient1->SetUserName(spare ? kSpareUser : kMainUser);
    FtpClient1->SetPassword(spare ? kSparePassword : kMainPassword);
    FtpClient1->SetServerAddress(spare ? kSpareServer : kMainServer);
    RemoteFolder = kUpgradeFolder;
    FtpClient1->SetPassiveMode(UsePassiveMode->Checked());
    FtpClient1->SetTransferTimeout(1500);
    FtpClient1->SetRestartOffset(0);
    FtpClient1->SetFileType(ftBinary);
}

void GetUpdateFile::Timer3Timer(Object*) {
    // Waits until logged in and the login folder's listing has arrived.
    if (!(FtpClient1->IsConnected() && LoggedIn && ListingReceived)) return;
    Timer3->SetEnabled(false);
    DownloadQueue->Clear();
    ReadyToDownload = false;
    QueueExhausted = false;
    ListingPhase = true;
    Timer1->SetEnabled(true);
    FtpClient1->ChangeFolder(RemoteFolder);
    Timer2->SetEnabled(true);
}

void GetUpdateFile::FtpClient1FtpStatus(Object*, FtpStatusCode StatusCode, const char* InfoText) {
    switch (StatusCode) {
        case scDisconnected:
            // The connection is gone (and with it any transfer, whose file
            // the client has closed): what it wrote is not put in place.
            staged_.Discard();
            SetCaption(SavedCaption);
            break;
        case scConnected:
            SetStatus(kTextConnected.In(LanguageIndex));
            break;
        case scLoggedOut:
            staged_.Discard();
            SetStatus(kTextLoggedOut.In(LanguageIndex));
            DownloadQueue->Clear();
            break;
        case scLoggedIn:
            SetStatus(kTextLoggedIn.In(LanguageIndex));
            FtpClient1->QueryFolder();
            LoggedIn = true;
            break;
        case scOperationComplete:
            InfoMemo->Lines().Add(kTextOperationComplete);
            FtpClient1->QueryFolder();
            break;
        case scCurrentFolder:
            // Before the upgrade folder, the listing is the login folder's:
            // it only tells that the session is ready.
            LoginListing = !ListingPhase && !ListingReceived;
            FtpClient1->ListFolder("", false);
            break;
        case scInfoText:
            LoginListing = false;
            if (ListingPhase) {
                InfoMemo->SetText(InfoText ? InfoText : "");
                FillQueueFromListing();
            }
            ListingReceived = true;
            break;
        case scProgress:
            SetStatus(QueueHead() + " " + kTextDownloading.In(LanguageIndex) +
                      std::to_string(FtpClient1->BytesTransferred()));
            break;
        case scTransferComplete: {
            // Only a download this window started and staged can arrive; a
            // completion without one put nothing in place and is not counted.
            if (!staged_.Active()) break;
            // The received file takes the installed file's place now, and
            // only now. When that fails the exception report says so, and
            // the file is a failed one: neither counted nor listed, dropped
            // from the queue, and the next file follows.
            bool arrived = true;
            try {
                staged_.Commit();
            } catch (const Exception& e) {
                arrived = false;
                Application::Instance().HandleException(e);
            }
            const std::string head = QueueHead();
            if (arrived) {
                SetStatus(head + " " + kTextDownloaded.In(LanguageIndex));
                Memo1->Lines().Add(head);
                ++DownloadedCount;
            }
            if (DownloadQueue->Count() > 0) {
                DownloadQueue->Delete(0);
                StartNextDownload();
            }
            break;
        }
        case scTransferTimedOut:
            // The client has closed the transfer; what it wrote goes.
            staged_.Discard();
            ShowNotice(kTextTransferTimedOut);
            break;
    }
}

void GetUpdateFile::FillQueueFromListing() {
    DownloadQueue->Clear();
    std::vector<std::string> duplicates;
    for (const std::string& name : NamesFromListing(InfoMemo->Lines().ToVector(), &duplicates, SystemNameFold))
        DownloadQueue->Add(name);
    if (!duplicates.empty()) {
        // Windows holds one file for all of them: the first name is
        // downloaded, and the user hears which others were left out.
        std::string text = kTextDuplicateNames.In(LanguageIndex);
        for (const std::string& name : duplicates) text += "\r\n" + name;
        ShowNotice(text);
    }
    SetStatus(kTextBeingLogin);
    Pause(1000);
    ListingPhase = false;
    ReadyToDownload = true;
}

void GetUpdateFile::Timer2Timer(Object*) {
    if (!ReadyToDownload) return;
    Timer2->SetEnabled(false);
    StartNextDownload();
}

void GetUpdateFile::StartNextDownload() {
    if (DownloadQueue->Count() == 0) {
        QueueExhausted = true;
        return;
    }
    const std::string head = DownloadQueue->Get(0);
    SetStatus(head);
    // The remote name is used as it stands, appended to the installation
    // folder; the data goes to a temporary file beside that file.
    const std::string installed = InstallFolder + head;
    // Its report names the installed file already.
    const std::string temporary = staged_.Begin(installed);
    try {
        // A client that is not Ready (its connection went a moment ago)
        // takes no download and writes nothing: nothing stays staged, and
        // the logout that follows ends the run. One that took the download
        // but could not prepare its data connection reports why: that
        // report fails this file (the file stays staged until then, so the
        // error handler knows a download failed) and the next one follows.
        const bool ready = FtpClient1->ProcessState() == FtpState::Ready;
        if (!FtpClient1->DownloadFile(head, temporary, dmReplace) && !ready) staged_.Discard();
    } catch (Exception& e) {
        // The report names the installed file, as the user knows it.
        staged_.Discard();
        std::string message = e.Message();
        for (size_t at = message.find(temporary); at != std::string::npos;
             at = message.find(temporary, at + installed.size()))
            message.replace(at, temporary.size(), installed);
        e.SetMessage(message);
        throw;
    } catch (...) {
        staged_.Discard();
        throw;
    }
}

void GetUpdateFile::FtpClient1FtpError(Object*, int32_t ErrorCode, const char* ErrorText) {
    if (LoginListing && FtpClient1->IsConnected()) {
        // The login folder's listing failed ("450 No files found" for an
        // empty folder, say): the user never sees that listing, and the
        // session is ready all the same.
        LoginListing = false;
        ListingReceived = true;
        return;
    }
    LoginListing = false;
    // The client reports each failure once. One that ends a download (the
    // client has closed its file) leaves the installed file as it was and
    // fails exactly that file.
    const bool downloadFailed = staged_.Active();
    staged_.Discard();
    // A failure that ended the session (the server closed it, a 421) leaves
    // the client Unconnected before this runs: no file can follow, and the
    // run stands after the box until Cancel rather than end as if the
    // files had been fetched.
    const bool sessionLost = !FtpClient1->IsConnected();
    Application::Instance().ShowMessageBox(Handle(), ErrorText ? ErrorText : "",
                                           kTextFtpErrorCaption + std::to_string(ErrorCode),
                                           MB_OK | MB_ICONWARNING);
    if (sessionLost) return;
    if (downloadFailed) {
        // The box may have been up for a while: the queue may have been
        // cleared meanwhile (the connection went).
        if (DownloadQueue->Count() > 0) DownloadQueue->Delete(0);
        StartNextDownload();
    } else if (DownloadQueue->Count() == 0) {
        // Before the upgrade folder was listed (or after its listing failed):
        // no file is left, and the run ends once it may.
        StartNextDownload();
    }
    // An error while files wait but none is being received (the queue was
    // filled and the downloads have not begun, or a time-out stopped them)
    // failed no file: none is dropped, and the run stays as it is.
}

void GetUpdateFile::Timer1Timer(Object*) {
    if (!QueueExhausted) return;
    Timer1->SetEnabled(false);
    ListingPhase = false;
    ReadyToDownload = false;
    FtpClient1->LogOut();
    FinishUpgrade();
}

void GetUpdateFile::FinishUpgrade() {
    // A second logout: the connection is closed already, so nothing is sent,
    // but its wait handles the messages still pending.
    FtpClient1->LogOut();
    if (DownloadedCount != 0) ShowNotice(kTextAllDownloaded.In(LanguageIndex));
    Close();
}

void GetUpdateFile::btnCancelClick(Object*) {
    FtpClient1->LogOut();
    // Logging out closed the transfer under way, if any: it is not put in place.
    staged_.Discard();
    InfoMemo->Lines().Clear();
    if (DownloadQueue) DownloadQueue->Clear();
    Close();
}

}  // namespace qv
