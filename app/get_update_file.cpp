#include "app/get_update_file.h"

#include "app/install_probe.h"
#include "framework/application.h"
#include "framework/control_classes.h"

namespace qv {

std::string InstallFolder;
std::string RemoteFolder;
uint8_t LanguageIndex = 0;
std::unique_ptr<StringList> DownloadQueue;

void RegisterApplicationClasses() {
    RegisterControlClasses();
    RegisterMultiLangClasses();
}

GetUpdateFile::GetUpdateFile(Component* owner) : Form(owner) { RegisterHandlers(); }

GetUpdateFile::~GetUpdateFile() = default;

void GetUpdateFile::RegisterHandlers() {
    RegisterHandler("FormCreate", &GetUpdateFile::FormCreate);
    RegisterHandler("FormClose", &GetUpdateFile::FormClose);
    RegisterHandler("FormDestroy", &GetUpdateFile::FormDestroy);
    RegisterHandler("btnDownloadClick", &GetUpdateFile::btnDownloadClick);
    RegisterHandler("btnCancelClick", &GetUpdateFile::btnCancelClick);
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
}

void GetUpdateFile::Loaded() {
    Form::Loaded();
    BindComponents();
}

void GetUpdateFile::FormCreate(Object*) {
    LanguageIndex = 1;
    SetGlobalLanguage(1);
    InstallFolder = ProbeInstallFolder(FileExists);
    if (InstallFolder.empty()) {
        Application& app = Application::Instance();
        app.ShowMessageBox(nullptr, LanguageIndex == 1 ? kNotFoundChinese : kNotFoundEnglish, app.Title(),
                           MB_OK | MB_TASKMODAL);
        app.Terminate();
    }
    StatusBar1->SetSimpleText(InstallFolder);
    DownloadQueue = std::make_unique<StringList>();
    ReadyToDownload = false;
    QueueExhausted = false;
    ListingPhase = false;
    DownloadedCount = 0;
    SavedCaption = Caption();
}

void GetUpdateFile::FormClose(Object*, CloseAction&) { Application::Instance().Terminate(); }

void GetUpdateFile::FormDestroy(Object*) { DownloadQueue.reset(); }

void GetUpdateFile::btnDownloadClick(Object*) {
    // The upgrade run (FTP client, timers) comes with the communications
    // layer; until then the button does nothing.
}

void GetUpdateFile::btnCancelClick(Object*) {
    // The FTP logout joins here with the upgrade run.
    InfoMemo->Lines().Clear();
    if (DownloadQueue) DownloadQueue->Clear();
    Close();
}

}  // namespace qv
