// The upgrade window made from its real form resource (linked into this
// test): layout, fonts, colours, tab order, texts in both languages, and
// start-up without an installation (the prefix's drives hold none).
#include "app/get_update_file.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/install_probe.h"
#include "app/upgrade_texts.h"
#include "framework/application.h"

namespace qv {
namespace {

struct Box {
    std::string text, caption;
    UINT flags;
};

class UpgradeWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Application::Instance().Initialize();
        Application::Instance().SetTitle(kApplicationTitle);
        RegisterApplicationClasses();
    }
    void SetUp() override {
        Application::Instance().OnMessageBox = [this](HWND, const std::string& text, const std::string& caption,
                                                      UINT flags) {
            boxes.push_back({text, caption, flags});
            return IDOK;
        };
        window = CreateForm<GetUpdateFile>();
    }
    void TearDown() override {
        window.reset();
        Application::Instance().OnMessageBox = nullptr;
        SetGlobalLanguage(0);
    }
    RECT ClientRect(Control* c) {
        RECT r;
        GetWindowRect(c->Handle(), &r);
        MapWindowPoints(nullptr, window->Handle(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    ComponentPtr<GetUpdateFile> window;
    std::vector<Box> boxes;
};

TEST_F(UpgradeWindowTest, WithoutInstallationTheNotFoundMessageEndsTheProgram) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "\xa7\xe4\xa4\xa3\xa8\xec<Quotiva9.1>!");
    EXPECT_EQ(boxes[0].caption, "Quotiva Internet Upgrading System");
    EXPECT_EQ(boxes[0].flags & MB_TYPEMASK, static_cast<UINT>(MB_OK));
    EXPECT_TRUE(Application::Instance().Terminated());
    EXPECT_EQ(InstallFolder, "");
    EXPECT_EQ(window->StatusBar1->SimpleText(), "");
    EXPECT_EQ(LanguageIndex, 1);
    EXPECT_TRUE(window->Run().DownloadQueue().empty());
    // The saved caption is the Chinese one.
    EXPECT_EQ(window->SavedCaption, "Quotiva\xba\xf4\xa4W\xa4\xc9\xaf\xc5\xa8t\xb2\xce");
}

TEST_F(UpgradeWindowTest, TheProbeTakesTheFirstDriveWithTheFile) {
    std::vector<std::string> asked;
    auto only = [&](std::vector<std::string> present) {
        asked.clear();
        return ProbeInstallFolder([&, present](const std::string& p) {
            asked.push_back(p);
            return std::find(present.begin(), present.end(), p) != present.end();
        });
    };
    EXPECT_EQ(only({"C:\\Zentra\\main\\QVX.exe", "E:\\Zentra\\main\\QVX.exe"}), "C:\\Zentra\\main\\");
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(only({"H:\\Zentra\\main\\QVX.exe"}), "H:\\Zentra\\main\\");
    std::vector<std::string> expected;
    for (char drive : std::string("CDEFGH")) {
        expected.push_back(std::string(1, drive) + ":\\Zentra\\main\\QVX.exe");
        if (drive != 'H') expected.push_back(std::string(1, drive) + ":\\Zentra\\main\\~qvupgrade.journal");
    }
    EXPECT_EQ(asked, expected);
    EXPECT_EQ(only({"I:\\Zentra\\main\\QVX.exe"}), "");
    // An upgrade interrupted while QVX.exe was kept aside: its journal marks
    // the installation, so that the start can finish it.
    EXPECT_EQ(only({"E:\\Zentra\\main\\~qvupgrade.journal", "F:\\Zentra\\main\\QVX.exe"}), "E:\\Zentra\\main\\");
}

TEST_F(UpgradeWindowTest, LayoutFrameAndColoursFollowTheWindowDescription) {
    HWND w = window->Handle();
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 506);
    EXPECT_EQ(client.bottom, 334);
    LONG_PTR style = GetWindowLongPtrW(w, GWL_STYLE);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX));
    EXPECT_TRUE(IsWindowVisible(w));
    RECT frame;
    GetWindowRect(w, &frame);
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_EQ(window->GetColor(), clBtnFace);
    struct Expect {
        Control* c;
        int left, top, width, height;
    };
    const Expect rects[] = {
        {window->ProgramIcon, 16, 12, 33, 33},  {window->InfoMemo, 16, 104, 209, 137},
        {window->Memo1, 280, 104, 201, 137},    {window->StatusBar1, 72, 256, 409, 19},
        {window->btnDownload, 16, 296, 90, 25}, {window->UsePassiveMode, 120, 300, 121, 17},
        {window->UseSpareSystem, 256, 300, 121, 17}, {window->btnCancel, 396, 296, 90, 25},
    };
    for (const Expect& e : rects) {
        RECT r = ClientRect(e.c);
        EXPECT_EQ(r.left, e.left) << e.c->Name();
        EXPECT_EQ(r.top, e.top) << e.c->Name();
        EXPECT_EQ(r.right - r.left, e.width) << e.c->Name();
        EXPECT_EQ(r.bottom - r.top, e.height) << e.c->Name();
    }
    // Labels keep their places (their size follows their text).
    EXPECT_EQ(ClientRect(window->Label3).left, 72);
    EXPECT_EQ(ClientRect(window->Label3).top, 18);
    EXPECT_EQ(ClientRect(window->Label1).top, 260);
    EXPECT_EQ(window->Label3->GetFont().Height(), 15);
    EXPECT_EQ(window->Label3->GetFont().CharSet(), 136);
    EXPECT_EQ(window->Label3->GetFont().GetColor(), clBlue);
    EXPECT_EQ(window->Label2->GetFont().Height(), 12);
    EXPECT_EQ(window->btnCancel->GetFont().CharSet(), 136);
    EXPECT_EQ(window->UsePassiveMode->GetFont().GetColor(), clBlue);
    EXPECT_EQ(window->UseSpareSystem->GetFont().GetColor(), clRed);
    EXPECT_EQ(window->UseSpareSystem->GetFont().CharSet(), 1);
    EXPECT_TRUE(window->InfoMemo->ParentFont());
    EXPECT_EQ(window->GetFont().Name(), "MS Sans Serif");
    EXPECT_EQ(window->GetFont().Height(), 11);
    EXPECT_FALSE(window->UsePassiveMode->Checked());
    EXPECT_FALSE(window->UseSpareSystem->Checked());
    // InfoMemo does not wrap and has no horizontal scroll bar; Memo1 wraps.
    LONG_PTR info = GetWindowLongPtrW(window->InfoMemo->Handle(), GWL_STYLE);
    EXPECT_TRUE(info & ES_AUTOHSCROLL);
    EXPECT_TRUE(info & WS_VSCROLL);
    EXPECT_FALSE(info & WS_HSCROLL);
    LONG_PTR memo1 = GetWindowLongPtrW(window->Memo1->Handle(), GWL_STYLE);
    EXPECT_FALSE(memo1 & (ES_AUTOHSCROLL | WS_HSCROLL));
    EXPECT_TRUE(SendMessageW(window->StatusBar1->Handle(), SB_ISSIMPLE, 0, 0));
    // Neither button is a default button.
    EXPECT_EQ(GetWindowLongPtrW(window->btnDownload->Handle(), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_EQ(GetWindowLongPtrW(window->btnCancel->Handle(), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
}

TEST_F(UpgradeWindowTest, FocusMovesInTheTabOrderOfTheWindow) {
    HWND w = window->Handle();
    std::vector<HWND> order;
    HWND h = GetNextDlgTabItem(w, nullptr, FALSE);
    for (int i = 0; i < 6 && h; ++i) {
        order.push_back(h);
        h = GetNextDlgTabItem(w, h, FALSE);
    }
    std::vector<HWND> expected = {window->InfoMemo->Handle(),       window->btnCancel->Handle(),
                                  window->btnDownload->Handle(),    window->Memo1->Handle(),
                                  window->UseSpareSystem->Handle(), window->UsePassiveMode->Handle()};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(h, window->InfoMemo->Handle());  // and round again; the status bar takes no focus
}

TEST_F(UpgradeWindowTest, TextsSwitchBetweenChineseAndEnglish) {
    EXPECT_EQ(window->btnCancel->Caption(), "\xa8\xfa\xae\xf8");
    EXPECT_EQ(window->UsePassiveMode->Caption(), "Use Passive Mode");
    SetGlobalLanguage(0);
    EXPECT_EQ(window->Caption(), "Quotiva Internet Upgrading System");
    EXPECT_EQ(window->Label3->Caption(), "Super Quotiva Internet Upgrading System");
    EXPECT_EQ(window->Label1->Caption(), "Status:");
    EXPECT_EQ(window->btnDownload->Caption(), "Download File");
    EXPECT_EQ(window->UseSpareSystem->Caption(), "Use Spare System");
    EXPECT_EQ(window->GetFont().Name(), "MS Sans Serif");
    EXPECT_EQ(window->GetFont().CharSet(), 1);
    SetGlobalLanguage(1);
    EXPECT_EQ(window->Label4->Caption(), "\xc0\xc9\xae\xd7\xa6\x43\xaa\xed");
}

TEST_F(UpgradeWindowTest, CancelClearsAndHidesTheWindowAndAsksToEnd) {
    window->InfoMemo->Lines().Add("x");
    window->Run().SetDownloadQueue({"file"});
    SendMessageW(window->btnCancel->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(window->InfoMemo->Lines().Count(), 0);
    EXPECT_TRUE(window->Run().DownloadQueue().empty());
    EXPECT_FALSE(IsWindowVisible(window->Handle()));
    EXPECT_TRUE(Application::Instance().Terminated());
}

TEST_F(UpgradeWindowTest, EscFromAnyControlAndEnterOnCancelDoWhatCancelDoes) {
    EXPECT_TRUE(window->btnCancel->Cancel());
    EXPECT_FALSE(window->btnDownload->Cancel());
    struct Case {
        Control* focus;
        UINT key;
    } cases[] = {{window->btnDownload, VK_ESCAPE}, {window->InfoMemo, VK_ESCAPE}, {window->UsePassiveMode, VK_ESCAPE},
                 {window->btnCancel, VK_RETURN}};
    for (const Case& c : cases) {
        window->Show();
        window->InfoMemo->Lines().Add("x");
        window->Run().SetDownloadQueue({"file"});
        c.focus->SetFocus();
        ASSERT_EQ(GetFocus(), c.focus->Handle());
        // A quit message left by start-up would end the loop before the key.
        MSG quit;
        while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        PostMessageW(c.focus->Handle(), WM_KEYDOWN, c.key, 1);
        Application::Instance().ProcessMessages();
        EXPECT_EQ(window->InfoMemo->Lines().Count(), 0) << c.focus->Name();
        EXPECT_TRUE(window->Run().DownloadQueue().empty()) << c.focus->Name();
        EXPECT_FALSE(IsWindowVisible(window->Handle())) << c.focus->Name();
    }
}

TEST_F(UpgradeWindowTest, TheRunsComponentsComeFromTheResourceWithTheirSettings) {
    struct TimerCase {
        Timer* timer;
        int interval;
    };
    for (const TimerCase& t : {TimerCase{window->Timer1, 2000}, {window->Timer2, 3000}, {window->Timer3, 5000}}) {
        EXPECT_FALSE(t.timer->Enabled()) << t.timer->Name();
        EXPECT_FALSE(t.timer->Running()) << t.timer->Name();
        EXPECT_EQ(t.timer->Interval(), t.interval) << t.timer->Name();
        EXPECT_TRUE(IsEventAssigned(*t.timer, "OnTimer")) << t.timer->Name();
    }
    FtpClient* c = window->FtpClient1;
    EXPECT_EQ(c->ConnectTimeout(), 0);
    EXPECT_EQ(c->FileType(), ftBinary);
    EXPECT_EQ(c->GetFtpLog(), window->FtpLog1);
    EXPECT_FALSE(c->PassiveMode());
    EXPECT_EQ(c->TransferTimeout(), 1500);
    EXPECT_EQ(c->WsPort(), "ftp");
    EXPECT_EQ(c->LogName(), "COMMS.LOG");
    EXPECT_EQ(c->TraceName(), "COMMS.TRC");
    EXPECT_EQ(c->ServerAddress(), "");
    EXPECT_EQ(c->UserName(), "");
    EXPECT_EQ(c->Password(), "");
    EXPECT_TRUE(c->OnFtpStatus);
    EXPECT_TRUE(c->OnFtpError);
    EXPECT_FALSE(c->OnFtpReply);
    EXPECT_FALSE(c->IsConnected());
    EXPECT_FALSE(window->FtpLog1->Enabled());
    EXPECT_EQ(window->FtpLog1->FtpHistoryName(), "COMMSFTP.HIS");
    EXPECT_EQ(window->FtpLog1->GetFtpClient(), c);
}

TEST_F(UpgradeWindowTest, EachRunSetsTheServerAndAccountByTheSpareCheckBox) {
    struct Case {
        bool spare, passive;
        const char *server, *user, *password;
    };
    const Case cases[] = {
        {false, false, QV_TEST_MAIN_SERVER, "qvmain", "kd52wm71"},
        {true, true, QV_TEST_SPARE_SERVER, "qvspare", "qrt418"},
        {false, true, QV_TEST_MAIN_SERVER, "qvmain", "kd52wm71"},
    };
    for (const Case& k : cases) {
        window->UseSpareSystem->SetChecked(k.spare);
        window->UsePassiveMode->SetChecked(k.passive);
        window->FtpClient1->SetRestartOffset(77);
        window->FtpClient1->SetTransferTimeout(1);
        window->FtpClient1->SetFileType(ftAscii);
        window->ApplyFtpSettings();
        FtpClient* c = window->FtpClient1;
        EXPECT_EQ(c->ServerAddress(), k.server);
        EXPECT_EQ(c->UserName(), k.user);
        EXPECT_EQ(c->Password(), k.password);
        EXPECT_EQ(c->PassiveMode(), k.passive);
        EXPECT_EQ(c->TransferTimeout(), 1500);
        EXPECT_EQ(c->RestartOffset(), 0);
        EXPECT_EQ(c->FileType(), ftBinary);
        EXPECT_EQ(c->WsPort(), "ftp");
        EXPECT_EQ(RemoteFolder, "//QVX_upgrade");
    }
}

TEST_F(UpgradeWindowTest, TheQueueIsFilledFromTheListingAsTheMemoShowsIt) {
    // Line ends of every kind, trailing blanks and tabs, blank lines, and
    // the two folder names some servers list.
    window->InfoMemo->SetText(".\r\n..\r\nQVX.exe  \t\r\nsub/new.dll\rplain.dat\n\n   \r\n\tlast.txt");
    window->Run().SetDownloadQueue({"stale"});
    window->Run().FillQueueFromListing();
    EXPECT_EQ(window->Run().DownloadQueue(), (std::vector<std::string>{"QVX.exe", "sub/new.dll", "plain.dat", "last.txt"}));
    EXPECT_EQ(window->StatusBar1->SimpleText(), "Being Login....");
    EXPECT_TRUE(window->Run().QueueFilled());
    // The memo keeps the listing as it came.
    EXPECT_EQ(window->InfoMemo->Lines().Get(2), "QVX.exe  \t");
}

TEST_F(UpgradeWindowTest, NamesThatAreOneFileOnWindowsAreFetchedOnceAndTheOthersNamedInOneBox) {
    // "\xa3""D" and "\xa3\x5c" are the Greek capital and small alpha: one
    // file on Windows, which folds every letter it knows, not only ASCII.
    boxes.clear();  // start-up's (no installation in this prefix)
    window->InfoMemo->SetText("QVX.exe\r\nqvx.EXE\r\n\xa3""D.dat\r\nQVX.exe.\r\n\xa3\\.DAT\r\nnews.dat\r\n");
    window->Run().FillQueueFromListing();
    EXPECT_EQ(window->Run().DownloadQueue(), (std::vector<std::string>{"QVX.exe", "\xa3""D.dat", "news.dat"}));
    ASSERT_EQ(boxes.size(), 1u);
    // 下列檔案在 Windows 上與列表中前面的檔案同名，不會下載： and the names
    EXPECT_EQ(boxes[0].text, std::string(kTextDuplicateNames.chinese) + "\r\nqvx.EXE\r\n\xa3\\.DAT");
    EXPECT_EQ(boxes[0].caption, kApplicationTitle);
    EXPECT_TRUE(window->Run().QueueFilled());
}

TEST_F(UpgradeWindowTest, DuringThePauseOtherProgramsAreAnsweredButNoInputIsHandled) {
    // A click waits in the queue; another thread asks for the status text
    // while the pause after filling the queue runs (a status bar in simple
    // mode answers part 0 with its simple text under Wine).
    ASSERT_TRUE(PostMessageW(window->btnCancel->Handle(), BM_CLICK, 0, 0));
    window->InfoMemo->SetText("QVX.exe\r\n");
    std::atomic<bool> answered{false};
    std::atomic<DWORD> answeredAt{0};
    std::wstring seen(64, L'\0');
    HWND status = window->StatusBar1->Handle();
    std::thread other([&] {
        Sleep(300);
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(seen.data()), SMTO_NORMAL,
                                5000, &result)) {
            answeredAt = GetTickCount();
            answered = true;
        }
    });
    window->Run().FillQueueFromListing();
    const DWORD returnedAt = GetTickCount();
    other.join();
    ASSERT_TRUE(answered);
    EXPECT_LT(static_cast<int32_t>(answeredAt - returnedAt), 0) << "answered only after the pause";
    EXPECT_EQ(std::wstring(seen.c_str()), L"Being Login....");
    // The click is still waiting: Cancel did not run inside the pause.
    EXPECT_TRUE(IsWindowVisible(window->Handle()));
    EXPECT_EQ(window->Run().DownloadQueue().size(), 1u);
    Application::Instance().ProcessMessages();
    EXPECT_FALSE(IsWindowVisible(window->Handle()));
}

}  // namespace
}  // namespace qv
