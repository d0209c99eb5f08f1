// The upgrade window GetUpdateFile and the state of its unit.
//
// The window is read from its form resource (get_update_file.form). Every
// handler the resource names is registered in RegisterHandlers(), the one
// place to extend when components and handlers are added to the resource;
// the component fields are bound by name in BindComponents() after reading.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/staged_download.h"
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
// The names of the files still to download, head first (created by
// FormCreate, freed by FormDestroy).
extern std::unique_ptr<StringList> DownloadQueue;

inline const std::string kApplicationTitle = "Quotiva Internet Upgrading System";

// The two upgrade servers: deployment data, compiled in from the CMake cache
// variables QUOTIVA_MAIN_SERVER and QUOTIVA_SPARE_SERVER.
extern const char* const kMainServer;
extern const char* const kSpareServer;

class GetUpdateFile : public Form {
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

    // ---- the steps of an upgrade run ----
    void ApplyFtpSettings();
    void StartUpgrade();
    void FillQueueFromListing();
    void StartNextDownload();
    void FinishUpgrade();

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

    // ---- window fields of the upgrade run ----
    bool ReadyToDownload = false;
    bool QueueExhausted = false;
    bool ListingPhase = false;
    int32_t DownloadedCount = 0;
    std::string SavedCaption;
    bool LoggedIn = false;
    bool ListingReceived = false;
    // The login folder's listing is under way (its failure is no error the
    // user needs to see).
    bool LoginListing = false;

    // The download under way, received beside the installed file.
    const StagedDownload& CurrentDownload() const { return staged_; }

private:
    // The two pauses of a run hold the run where it is: no input, timer,
    // socket or FTP message is handled meanwhile, so no handler runs in the
    // middle of another and the steps keep their order. The window is still
    // painted and answers messages other programs send it.
    static void Pause(unsigned milliseconds);
    // The head of DownloadQueue (empty when the queue is).
    std::string QueueHead() const;
    void SetStatus(const std::string& text);
    // A plain task-modal box with OK, captioned with the program's title.
    static void ShowNotice(const std::string& text);

    StagedDownload staged_;

    void RegisterHandlers();
    void BindComponents();
    template <class T>
    void Bind(T*& field, const char* name);
};

// Registers the component classes the window's resource uses.
void RegisterApplicationClasses();

}  // namespace qv
