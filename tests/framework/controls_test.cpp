// The Win32 controls, forms read from form text, and timers, on real
// windows under Wine.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "framework/application.h"
#include "framework/common_controls.h"
#include "framework/control_classes.h"
#include "framework/controls.h"
#include "framework/form.h"
#include "framework/timer.h"
#include "framework/win32_text.h"

namespace qv {
namespace {

class TestWindow : public Form {
public:
    explicit TestWindow(Component* owner = nullptr) : Form(owner) {
        RegisterHandler("Clicked", &TestWindow::Clicked);
    }
    std::string ClassName() const override { return "QvTestWindow"; }
    void Clicked(Object* sender) { clicks.push_back(sender); }
    std::vector<Object*> clicks;
};

void Pump(DWORD ms) {
    DWORD until = GetTickCount() + ms;
    MSG msg;
    do {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (GetTickCount() < until);
}

class ControlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Application::Instance().Initialize();
        RegisterControlClasses();
    }
    void SetUp() override { window = std::make_unique<TestWindow>(); }
    // As Form::Create does: the window first, then the text.
    void Read(const std::string& text) {
        window->HandleNeeded();
        ReadForm(*window, text, window->Handlers(), "test.form");
    }
    template <class T>
    T* Get(const char* name) {
        auto* c = dynamic_cast<T*>(window->FindComponent(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    std::unique_ptr<TestWindow> window;
};

TEST_F(ControlsTest, AFormTextBecomesRealWindows) {
    Read(R"(QvTestWindow W {
  BorderStyle = bsDialog  ClientWidth = 506  ClientHeight = 334  Caption = "Main"
  Font { Name = "MS Sans Serif" Height = 11 }
  Button B1 { Left = 10 Top = 20 Width = 90 Height = 25 Caption = "One" TabOrder = 2 OnClick = Clicked }
  Edit E1 { Left = 10 Top = 60 Width = 90 Height = 20 TabOrder = 0 }
  CheckBox C1 { Left = 10 Top = 90 Width = 90 Height = 17 Caption = "Check" TabOrder = 1
                Font { Name = "MS Sans Serif" Height = 11 Color = clRed } }
  Label L1 { Left = 5 Top = 5 Caption = "Text" AutoSize = false Width = 40 Height = 13 }
})");
    HWND w = window->Handle();
    ASSERT_TRUE(w);
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 506);
    EXPECT_EQ(client.bottom, 334);
    LONG_PTR style = GetWindowLongPtrW(w, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    auto* b1 = Get<Button>("B1");
    auto* e1 = Get<Edit>("E1");
    auto* c1 = Get<CheckBox>("C1");
    ASSERT_TRUE(b1 && e1 && c1);
    EXPECT_EQ(GetParent(b1->Handle()), w);
    RECT r;
    GetWindowRect(b1->Handle(), &r);
    MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right - r.left, 90);
    // Children inherit the form's font until they have one of their own.
    EXPECT_TRUE(b1->ParentFont());
    EXPECT_FALSE(c1->ParentFont());
    EXPECT_EQ(c1->GetFont().GetColor(), clRed);
    // Tab order follows TabOrder, whatever the file order.
    EXPECT_EQ(GetNextDlgTabItem(w, nullptr, FALSE), e1->Handle());
    EXPECT_EQ(GetNextDlgTabItem(w, e1->Handle(), FALSE), c1->Handle());
    EXPECT_EQ(GetNextDlgTabItem(w, c1->Handle(), FALSE), b1->Handle());
    // Controls are found by name from outside through the registered message.
    ATOM atom = GlobalAddAtomW(L"c1");
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(w, Form::FindControlMessage(), atom, 0)), c1->Handle());
    GlobalDeleteAtom(atom);
    atom = GlobalAddAtomW(L"nothing");
    EXPECT_EQ(SendMessageW(w, Form::FindControlMessage(), atom, 0), 0);
    GlobalDeleteAtom(atom);
    // Clicks reach the bound handler; check boxes keep their state.
    SendMessageW(b1->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(window->clicks, (std::vector<Object*>{b1}));
    EXPECT_FALSE(c1->Checked());
    SendMessageW(c1->Handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(c1->Checked());
}

TEST_F(ControlsTest, CenteredFormShowsInTheMiddleOfTheScreen) {
    Read("QvTestWindow W { BorderStyle = bsDialog ClientWidth = 300 ClientHeight = 200 Left = 5 Top = 7"
         " Position = poScreenCenter }");
    window->Show();
    RECT r;
    GetWindowRect(window->Handle(), &r);
    int sx = GetSystemMetrics(SM_CXSCREEN), sy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_NEAR((r.left + r.right) / 2, sx / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, sy / 2, 1);
}

TEST_F(ControlsTest, MemoLinesLiveInTheEditControl) {
    Read("QvTestWindow W { Memo M { Left = 0 Top = 0 Width = 200 Height = 100 ScrollBars = ssVertical WordWrap = false } }");
    auto* m = Get<Memo>("M");
    ASSERT_TRUE(m);
    LONG_PTR style = GetWindowLongPtrW(m->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & ES_AUTOHSCROLL);  // no wrapping
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_FALSE(style & WS_HSCROLL);
    MemoLines& lines = m->Lines();
    EXPECT_EQ(lines.Count(), 0);
    lines.Add("alpha");
    lines.Add("beta");
    lines.Insert(1, "between");
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"alpha", "between", "beta"}));
    EXPECT_EQ(m->GetText(), "alpha\r\nbetween\r\nbeta\r\n");
    lines.Put(0, "first");
    lines.Delete(1);
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"first", "beta"}));
    // A text with CR, LF and CR LF breaks is split at each of them.
    m->SetText("a\nb\rc\r\nd");
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_THROW(lines.Get(4), Exception);
    // Switching word wrap on remakes the window and keeps the text.
    m->SetWordWrap(true);
    EXPECT_FALSE(GetWindowLongPtrW(m->Handle(), GWL_STYLE) & ES_AUTOHSCROLL);
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"a", "b", "c", "d"}));
    lines.Clear();
    EXPECT_EQ(lines.Count(), 0);
}

TEST_F(ControlsTest, StatusBarSimpleTextAndPanels) {
    Read("QvTestWindow W { StatusBar S { Left = 72 Top = 256 Width = 409 Height = 19 SimplePanel = true } }");
    auto* s = Get<StatusBar>("S");
    ASSERT_TRUE(s);
    s->SetSimpleText("D:\\Zentra\\main\\");
    EXPECT_TRUE(SendMessageW(s->Handle(), SB_ISSIMPLE, 0, 0));
    RECT r;
    GetWindowRect(s->Handle(), &r);
    EXPECT_EQ(r.right - r.left, 409);  // not docked: keeps its own size
    s->Panels().Assign({"one", "two"});
    EXPECT_EQ(s->Panels().Get(1), "two");
    EXPECT_EQ(SendMessageW(s->Handle(), SB_GETPARTS, 0, 0), 2);
    EXPECT_TRUE(SendMessageW(s->Handle(), SB_ISSIMPLE, 0, 0));
}

TEST_F(ControlsTest, ListsKeepTheirItemsInTheControl) {
    Read(R"(QvTestWindow W {
  ListBox LB { Left = 0 Top = 0 Width = 100 Height = 80 Items = ["a", "b", "c"] ItemIndex = 1 }
  ComboBox CB { Left = 0 Top = 100 Width = 100 Height = 21 Items = ["x", "y"] Style = csDropDownList }
  RadioGroup RG { Left = 120 Top = 0 Width = 100 Height = 80 Caption = "Pick" Items = ["p", "q"] ItemIndex = 1 }
  TabControl TC { Left = 0 Top = 130 Width = 200 Height = 50 Tabs = ["t1", "t2"] }
  HeaderControl HC { Left = 0 Top = 190 Width = 200 Height = 20 Sections = ["h1", "h2"] }
})");
    auto* lb = Get<ListBox>("LB");
    ASSERT_TRUE(lb);
    EXPECT_EQ(SendMessageW(lb->Handle(), LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(lb->ItemIndex(), 1);
    lb->Items().Put(1, "B");
    EXPECT_EQ(lb->Items().ToVector(), (std::vector<std::string>{"a", "B", "c"}));
    EXPECT_EQ(lb->ItemIndex(), 1);
    auto* cb = Get<ComboBox>("CB");
    ASSERT_TRUE(cb);
    EXPECT_EQ(SendMessageW(cb->Handle(), CB_GETCOUNT, 0, 0), 2);
    EXPECT_TRUE(GetWindowLongPtrW(cb->Handle(), GWL_STYLE) & CBS_DROPDOWNLIST);
    auto* rg = Get<RadioGroup>("RG");
    ASSERT_TRUE(rg);
    ASSERT_EQ(rg->Buttons().size(), 2u);
    EXPECT_EQ(SendMessageW(rg->Buttons()[1], BM_GETCHECK, 0, 0), BST_CHECKED);
    SendMessageW(rg->Buttons()[0], BM_CLICK, 0, 0);
    EXPECT_EQ(rg->ItemIndex(), 0);
    auto* tc = Get<TabControl>("TC");
    ASSERT_TRUE(tc);
    EXPECT_EQ(TabCtrl_GetItemCount(tc->Handle()), 2);
    EXPECT_EQ(tc->Tabs().Get(1), "t2");
    auto* hc = Get<HeaderControl>("HC");
    ASSERT_TRUE(hc);
    EXPECT_EQ(Header_GetItemCount(hc->Handle()), 2);
    EXPECT_EQ(hc->Sections().Get(0), "h1");
}

// Items set before a control has its window are kept by the list and
// moved into the window when it is made.
TEST_F(ControlsTest, ListsTakeItemsStoredBeforeTheirWindowExisted) {
    ReadForm(*window, R"(QvTestWindow W {
  ListBox LB { Left = 0 Top = 0 Width = 100 Height = 80 Items = ["a", "b", "c"] }
  ComboBox CB { Left = 0 Top = 100 Width = 100 Height = 21 Items = ["x", "y"] }
  TabControl TC { Left = 0 Top = 130 Width = 200 Height = 50 Tabs = ["t1", "t2"] }
  HeaderControl HC { Left = 0 Top = 190 Width = 200 Height = 20 Sections = ["h1", "h2"] }
})",
             window->Handlers(), "test.form");
    auto* lb = Get<ListBox>("LB");
    auto* cb = Get<ComboBox>("CB");
    auto* tc = Get<TabControl>("TC");
    auto* hc = Get<HeaderControl>("HC");
    ASSERT_TRUE(lb && cb && tc && hc);
    ASSERT_EQ(lb->Handle(), nullptr);
    window->HandleNeeded();
    ASSERT_NE(lb->Handle(), nullptr);
    EXPECT_EQ(SendMessageW(lb->Handle(), LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(lb->Items().ToVector(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SendMessageW(cb->Handle(), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(cb->Items().ToVector(), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(TabCtrl_GetItemCount(tc->Handle()), 2);
    EXPECT_EQ(tc->Tabs().ToVector(), (std::vector<std::string>{"t1", "t2"}));
    EXPECT_EQ(Header_GetItemCount(hc->Handle()), 2);
    EXPECT_EQ(hc->Sections().ToVector(), (std::vector<std::string>{"h1", "h2"}));
}

TEST_F(ControlsTest, ButtonsTakeTheirActionsCaption) {
    Read(R"(QvTestWindow W {
  Action A1 { Caption = "Run it" }
  Button B { Left = 0 Top = 0 Width = 80 Height = 25 Caption = "Own" Action = A1 }
})");
    auto* b = Get<Button>("B");
    auto* a = Get<Action>("A1");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->Caption(), "Run it");
    int runs = 0;
    a->OnExecute = [&](Object*) { ++runs; };
    SendMessageW(b->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(runs, 1);
    delete a;
    EXPECT_EQ(b->GetAction(), nullptr);
}

TEST_F(ControlsTest, LabelsSizeThemselvesToTheirText) {
    Read("QvTestWindow W { Label L { Left = 16 Top = 80 Width = 41 Height = 12 Caption = \"Files List\" } }");
    auto* l = Get<Label>("L");
    ASSERT_TRUE(l);
    int narrow = l->Width();
    l->SetCaption("Files List, and a much longer text");
    EXPECT_GT(l->Width(), narrow);
    RECT r;
    GetClientRect(l->Handle(), &r);
    EXPECT_EQ(r.right, l->Width());
}

TEST_F(ControlsTest, TimersStartAFreshIntervalWhenSwitchedOnOnly) {
    Timer timer;
    std::vector<DWORD> ticks;
    DWORD t0 = 0;
    timer.SetEnabled(false);
    timer.SetInterval(300);
    timer.SetOnTimer([&](Object*) { ticks.push_back(GetTickCount() - t0); });
    EXPECT_FALSE(timer.Running());
    // Switched on: the first tick comes one interval later. Switching on
    // again while it runs changes nothing.
    t0 = GetTickCount();
    timer.SetEnabled(true);
    Pump(150);
    timer.SetEnabled(true);
    Pump(250);
    ASSERT_GE(ticks.size(), 1u);
    EXPECT_GE(ticks[0], 280u);
    EXPECT_LT(ticks[0], 400u);  // a restart at 150 ms would tick at 450 ms
    // Off and on again: a fresh interval from that moment.
    timer.SetEnabled(false);
    ticks.clear();
    t0 = GetTickCount();
    timer.SetEnabled(true);
    Pump(200);
    EXPECT_TRUE(ticks.empty());
    Pump(250);
    ASSERT_GE(ticks.size(), 1u);
    EXPECT_GE(ticks[0], 280u);
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Running());
}

// A form freed (close before delete): OnDestroy first, then its components
// close while the form and its window are whole, then the destructors.
TEST(FormLifetime, ComponentsCloseWhileTheFormIsWhole) {
    struct Closing : Component {
        Closing(Component* owner, std::vector<std::string>& log) : Component(owner), log(log) {}
        void BeforeDestruction() override {
            auto* form = static_cast<Form*>(Owner());
            log.push_back(std::string("close, form window ") + (form && IsWindow(form->Handle()) ? "there" : "gone"));
            Component::BeforeDestruction();
        }
        std::vector<std::string>& log;
    };
    struct Window : Form {
        explicit Window(std::vector<std::string>& log) : log(log) {}
        ~Window() override { log.push_back("destructor, " + std::to_string(ComponentCount()) + " components"); }
        std::vector<std::string>& log;
    };
    std::vector<std::string> log;
    {
        ComponentPtr<Window> form(new Window(log));
        form->HandleNeeded();
        new Closing(form.get(), log);
        form->OnDestroy = [&](Object*) { log.push_back("OnDestroy"); };
    }
    EXPECT_EQ(log, (std::vector<std::string>{"OnDestroy", "close, form window there", "destructor, 0 components"}));
}

TEST_F(ControlsTest, ExceptionsInHandlersGoToTheReport) {
    Read("QvTestWindow W { Button B { Left = 0 Top = 0 Width = 80 Height = 25 } }");
    auto* b = Get<Button>("B");
    ASSERT_TRUE(b);
    std::vector<std::string> reports;
    Application::Instance().OnExceptionReport = [&](const std::string& text) { reports.push_back(text); };
    b->OnClick = [](Object*) { throw Exception("handler failed"); };
    SendMessageW(b->Handle(), BM_CLICK, 0, 0);
    // A form's OnDestroy runs in its destructor, where nothing may escape,
    // whatever was thrown.
    window->OnDestroy = [](Object*) { throw 42; };
    window.reset();
    Application::Instance().OnExceptionReport = nullptr;
    EXPECT_EQ(reports, (std::vector<std::string>{"handler failed", "Unknown exception"}));
}

}  // namespace
}  // namespace qv
