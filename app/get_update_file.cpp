#include "app/get_update_file.h"

#include "app/install_probe.h"
#include "app/signing_key.h"
#include "app/upgrade_names.h"
#include "app/upgrade_texts.h"
#include "framework/application.h"
#include "framework/control_classes.h"
#include "framework/exception.h"
#include "framework/files.h"
#include "framework/nested_wait.h"
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

namespace {
bool& SignedRequired() {
    static bool required = false;
    return required;
}
}  // namespace

namespace {
bool& Hidden() {
    static bool hidden = false;
    return hidden;
}
}  // namespace

void RegisterApplicationClasses() {
    RegisterControlClasses();
    RegisterMultiLangClasses();
    RegisterFtpClasses();
}

GetUpdateFile::GetUpdateFile(Component* owner) : Form(owner) {
    RegisterHandlers();
    run_.SetSignedUpgradesRequired(SignedRequired() || UpgradeSigningRequired());
}

GetUpdateFile::~GetUpdateFile() {
    // The form's components, the FTP client among them, were closed and
    // freed before this (the close box, or the end of the program in any
    // phase): the file of a download still under way is released, and
    // nothing of the run is installed.
    run_.WindowClosing();
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
    if (Hidden()) SetVisible(false);
}

void GetUpdateFile::FormCreate(Object*) {
    LanguageIndex = 1;
    SetGlobalLanguage(1);
    run_.SetLanguage(LanguageIndex);
    InstallFolder = ProbeInstallFolder(FileExistsAt);
    if (InstallFolder.empty()) {
        ShowNotice(kTextNotFound.In(LanguageIndex));
        Application::Instance().Terminate();
    } else if (!RecoverInstallation()) {
        Application::Instance().Terminate();
    }
    StatusBar1->SetSimpleText(InstallFolder);
    SavedCaption = Caption();
}

bool GetUpdateFile::RecoverInstallation() {
    // Before the user can do anything: an upgrade a kill interrupted is
    // finished or undone, and what runs left behind goes.
    files_.SetFolder(InstallFolder);
    for (;;) {
        RecoveryResult result = qv::RecoverInstallation(files_, [this](std::string_view line) { Trace(line); });
        if (result.kind != RecoveryResult::Stuck) return true;
        if (!AskRetry(result.file + kTextInUse.In(LanguageIndex))) return false;
    }
}

void GetUpdateFile::FormClose(Object*, CloseAction&) { Application::Instance().Terminate(); }

void GetUpdateFile::FormDestroy(Object*) {}

// ---- the handlers: what happens goes to the run ---------------------------------

void GetUpdateFile::btnDownloadClick(Object*) { run_.DownloadClicked(); }
void GetUpdateFile::btnCancelClick(Object*) { run_.CancelClicked(); }
void GetUpdateFile::Timer1Timer(Object*) { run_.Timer1(); }
void GetUpdateFile::Timer2Timer(Object*) { run_.Timer2(); }
void GetUpdateFile::Timer3Timer(Object*) { run_.Timer3(); }

void GetUpdateFile::FtpClient1FtpStatus(Object*, FtpStatusCode StatusCode, const char* InfoText) {
    run_.Status(StatusCode, InfoText);
}

void GetUpdateFile::FtpClient1FtpError(Object*, int32_t ErrorCode, const char* ErrorText) {
    run_.Error(ErrorCode, ErrorText);
}

// ---- what the run asks of the window ----------------------------------------------

void GetUpdateFile::SetStatus(const std::string& text) { StatusBar1->SetSimpleText(text); }

void GetUpdateFile::RestoreCaption() { SetCaption(SavedCaption); }

void GetUpdateFile::ClearReceived() { Memo1->Lines().Clear(); }

void GetUpdateFile::AddReceived(const std::string& name) { Memo1->Lines().Add(name); }

void GetUpdateFile::AddListingLine(const std::string& line) { InfoMemo->Lines().Add(line); }

void GetUpdateFile::SetListing(const std::string& text) { InfoMemo->SetText(text); }

std::vector<std::string> GetUpdateFile::ListingLines() { return InfoMemo->Lines().ToVector(); }

void GetUpdateFile::ClearListing() { InfoMemo->Lines().Clear(); }

void GetUpdateFile::SetTimer(int timer, bool on) {
    Timer* timers[] = {Timer1, Timer2, Timer3};
    timers[timer - 1]->SetEnabled(on);
}

void GetUpdateFile::Pause(unsigned milliseconds) {
    // No input, timer, socket or FTP message is handled here: the run's
    // steps keep their order exactly as with a plain sleep. Only painting
    // and messages that other programs send (they wait for an answer: a
    // screen reader, a test driver, the system asking whether the window
    // still responds) are served, so the window shows what the step before
    // the pause wrote into it ("Please wait", the listing).
    WaitNestedFor(NestedWaitServes::PaintAndSent, milliseconds);
}

void GetUpdateFile::ShowNotice(const std::string& text) {
    Application& app = Application::Instance();
    app.ShowMessageBox(nullptr, text, app.Title(), MB_OK | MB_TASKMODAL);
}

void GetUpdateFile::ShowFtpError(int32_t code, const std::string& text) {
    Application::Instance().ShowMessageBox(Handle(), text, kTextFtpErrorCaption + std::to_string(code),
                                           MB_OK | MB_ICONWARNING);
}

bool GetUpdateFile::AskRetry(const std::string& text) {
    Application& app = Application::Instance();
    return app.ShowMessageBox(Handle(), text, app.Title(), MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

void GetUpdateFile::ReportFailure(const std::string& file) {
    // The runtime's message for a file that cannot be made, naming it as
    // the user knows it.
    Application::Instance().HandleException(EFCreateError("Cannot create file " + InstallFolder + file));
}

void GetUpdateFile::CloseWindow() { Close(); }

void GetUpdateFile::ApplyFtpSettings() {
    const bool spare = UseSpareSystem->Checked();
    FtpClient1->SetUserName(spare ? kSpareUser : kMainUser);
    FtpClient1->SetPassword(spare ? kSparePassword : kMainPassword);
    FtpClient1->SetServerAddress(spare ? kSpareServer : kMainServer);
    RemoteFolder = kUpgradeFolder;
    run_.SetRemoteFolder(RemoteFolder);
    FtpClient1->SetPassiveMode(UsePassiveMode->Checked());
    FtpClient1->SetTransferTimeout(1500);
    FtpClient1->SetRestartOffset(0);
    FtpClient1->SetFileType(ftBinary);
}

bool GetUpdateFile::IsConnected() { return FtpClient1->IsConnected(); }

bool GetUpdateFile::LogIn() {
    // Errors of opening the connection (a host name that cannot be
    // resolved) reach the application's exception report.
    return FtpClient1->LogIn();
}

void GetUpdateFile::LogOut() { FtpClient1->LogOut(); }

void GetUpdateFile::ChangeFolder(const std::string& folder) { FtpClient1->ChangeFolder(folder); }

void GetUpdateFile::QueryFolder() { FtpClient1->QueryFolder(); }

void GetUpdateFile::ListFolder() { FtpClient1->ListFolder("", false); }

DownloadStart GetUpdateFile::DownloadFile(const std::string& remote, const std::string& local, int64_t restartOffset) {
    const bool ready = FtpClient1->IsReady();
    const std::string temporary = InstallFolder + local;
    try {
        // The offset is the client's 32-bit value: a file beyond its range
        // resumes at the largest offset it can name.
        FtpClient1->SetRestartOffset(static_cast<int32_t>(std::min<int64_t>(restartOffset, INT32_MAX)));
        if (FtpClient1->DownloadFile(remote, temporary, restartOffset > 0 ? dmRestart : dmReplace))
            return DownloadStart::Started;
    } catch (Exception& e) {
        // The report names the installed file, as the user knows it.
        const std::string installed = InstallFolder + remote;
        std::string message = e.Message();
        for (size_t at = message.find(temporary); at != std::string::npos;
             at = message.find(temporary, at + installed.size()))
            message.replace(at, temporary.size(), installed);
        e.SetMessage(message);
        throw;
    }
    return ready ? DownloadStart::Failing : DownloadStart::Refused;
}

int32_t GetUpdateFile::BytesTransferred() { return FtpClient1->BytesTransferred(); }

std::string GetUpdateFile::FoldName(std::string_view name) { return SystemNameFold(name); }

void GetUpdateFile::NewStagingRun() {
    staged_.NewRun();
    files_.SetFolder(InstallFolder);
}

std::string GetUpdateFile::BeginStaging(const std::string& installed) {
    // The remote name is used as it stands, appended to the installation
    // folder; the data goes to a temporary file beside that file.
    staged_.Begin(InstallFolder + installed);
    return staged_.Keep().substr(InstallFolder.size());
}

void GetUpdateFile::DiscardStaged(const std::string& staged) { RemoveFileAt(FileApiPath(InstallFolder + staged)); }

std::string GetUpdateFile::StageText(const std::string& installed, const std::string& text) {
    const std::string staged = BeginStaging(installed);
    OwnedFile file(CreateFileW(FileApiPath(InstallFolder + staged).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
        throw EFCreateError("Cannot create file " + InstallFolder + installed);
    return staged;
}

std::optional<P256PublicKey> GetUpdateFile::SigningKey() { return LoadUpgradeSigningKey(); }

std::optional<FileDigest> GetUpdateFile::Digest(const std::string& path) { return Sha256OfFile(InstallFolder + path); }

void GetUpdateFile::SetSignedUpgradesRequired(bool required) { SignedRequired() = required; }

void GetUpdateFile::SetHidden(bool hidden) { Hidden() = hidden; }

InstallFiles& GetUpdateFile::Files() {
    files_.SetFolder(InstallFolder);
    return files_;
}

namespace {
std::function<void(const std::string&)>& ProcessRunTrace() {
    static std::function<void(const std::string&)> trace;
    return trace;
}
}  // namespace

void GetUpdateFile::SetProcessRunTrace(std::function<void(const std::string& line)> trace) {
    ProcessRunTrace() = std::move(trace);
}

void GetUpdateFile::Trace(std::string_view line) {
    if (ProcessRunTrace()) ProcessRunTrace()(std::string(line));
    if (OnRunTrace) OnRunTrace(std::string(line));
}

}  // namespace qv
