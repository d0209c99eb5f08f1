// Forms at another DPI than the one they were designed at, and the keys
// that move between a form's controls and press its buttons: real windows
// under Wine. The DPI changes are the messages the system sends when a
// window moves to a monitor of another DPI (WM_DPICHANGED,
// WM_GETDPISCALEDSIZE), sent here by the test.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/control_classes.h"
#include "framework/controls.h"
#include "framework/form.h"
#include "framework/form_reader.h"
#include "framework/scaling.h"
#include "framework/win32_text.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace qv {
namespace {

class ScalingWindow : public Form {
public:
    explicit ScalingWindow(Component* owner = nullptr) : Form(owner) {
        RegisterHandler("Clicked", &ScalingWindow::Clicked);
    }
    std::string ClassName() const override { return "QvScalingWindow"; }
    void Clicked(Object* sender) { clicks.push_back(static_cast<Component*>(sender)->Name()); }
    std::vector<std::string> clicks;
};

// Two edits that touch (the first ends where the second starts), a button,
// a check box, a label sized to its text, a status bar with two panels.
// Odd places and sizes, so that scaling by 1.5 has halves to round.
const char* const kLayout = R"(QvScalingWindow W {
  BorderStyle = bsDialog  ClientWidth = 305  ClientHeight = 201  Caption = "Scaled"
  Font { Name = "MS Sans Serif" Height = 11 }
  Edit E1 { Left = 11 Top = 21 Width = 33 Height = 17 }
  Edit E2 { Left = 44 Top = 21 Width = 33 Height = 17 }
  Button B1 { Left = 11 Top = 45 Width = 75 Height = 25 Caption = "Press" }
  CheckBox C1 { Left = 101 Top = 49 Width = 121 Height = 17 Caption = "Check"
                Font { Name = "MS Sans Serif" Height = 15 } }
  Label L1 { Left = 7 Top = 3 Caption = "A label sized to its text" }
  StatusBar S1 { Left = 0 Top = 181 Width = 305 Height = 20 SimplePanel = false Panels = ["one", "two"] }
})";

class FormScalingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Application::Instance().Initialize();
        RegisterControlClasses();
    }
    void SetUp() override { window = std::make_unique<ScalingWindow>(); }
    void Read(const std::string& text) {
        window->HandleNeeded();
        ReadForm(*window, text, window->Handlers(), "test.form");
    }
    Control* Get(const char* name) { return dynamic_cast<Control*>(window->FindComponent(name)); }
    // A control's rectangle in the form's client area: left, top, width,
    // height in device pixels.
    std::vector<long> Rect(const char* name) {
        RECT r;
        GetWindowRect(Get(name)->Handle(), &r);
        MapWindowPoints(nullptr, window->Handle(), reinterpret_cast<POINT*>(&r), 2);
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    std::vector<long> Client() {
        RECT r;
        GetClientRect(window->Handle(), &r);
        return {r.right, r.bottom};
    }
    // The em height the control's GDI font was made with.
    long FontHeight(const char* name) {
        auto font = reinterpret_cast<HFONT>(SendMessageW(Get(name)->Handle(), WM_GETFONT, 0, 0));
        LOGFONTW lf{};
        if (!font || !GetObjectW(font, sizeof(lf), &lf)) return 0;
        return -lf.lfHeight;
    }
    // The control's text measured in its own font.
    SIZE TextSize(const char* name) {
        HWND h = Get(name)->Handle();
        HDC dc = GetDC(h);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)));
        std::wstring text = ToWide(Get(name)->GetText());
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(h, dc);
        return size;
    }
    void SendDpiChanged(int dpi, RECT suggested) {
        SendMessageW(window->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    }
    std::unique_ptr<ScalingWindow> window;
};

TEST_F(FormScalingTest, AMoveToAMonitorOfAnotherDpiScalesTheLayoutAndBackExactly) {
    Read(kLayout);
    const int start = window->CurrentDpi();
    ASSERT_EQ(start, SystemDpi());
    // This test's numbers are for a prefix at 96 DPI (the test prefix).
    ASSERT_EQ(start, 96) << "run this test in a prefix at 96 DPI";
    const std::vector<long> client96 = Client();
    EXPECT_EQ(client96, (std::vector<long>{305, 201}));
    const char* const names[] = {"E1", "E2", "B1", "C1", "L1", "S1"};
    std::vector<std::vector<long>> rects96;
    for (const char* n : names) rects96.push_back(Rect(n));
    const SIZE label96 = TextSize("L1");

    // The system suggests a frame on the other monitor; the form takes its
    // place and lays itself out for 144 DPI inside it.
    SendDpiChanged(144, {1000, 100, 1000 + 480, 100 + 340});
    EXPECT_EQ(window->CurrentDpi(), 144);
    EXPECT_EQ(Client(), (std::vector<long>{458, 302}));  // 305 x 201, half again
    RECT frame;
    GetWindowRect(window->Handle(), &frame);
    EXPECT_EQ(frame.left, 1000);
    EXPECT_EQ(frame.top, 100);
    struct Expect {
        const char* name;
        std::vector<long> rect;
    } expected[] = {
        // 11 * 1.5 = 16.5 rounds to 17; the right edge 44 * 1.5 = 66.
        {"E1", {17, 32, 49, 25}},
        // Starts where E1 ends: they still touch, and do not overlap.
        {"E2", {66, 32, 50, 25}},
        {"B1", {17, 68, 112, 37}},
        {"C1", {152, 74, 181, 25}},
        {"S1", {0, 272, 458, 30}},
    };
    for (const Expect& e : expected) EXPECT_EQ(Rect(e.name), e.rect) << e.name;
    // Fonts are made at the new size (their glyphs drawn for it, not
    // stretched): 11 and 15 layout pixels become 17 and 23 (22.5 rounded).
    EXPECT_EQ(FontHeight("B1"), 17);
    EXPECT_EQ(FontHeight("E1"), 17);
    EXPECT_EQ(FontHeight("C1"), 23);
    EXPECT_EQ(Get("C1")->GetFont().Height(), 15);  // the layout unit stays
    // The label grows with its text and still holds all of it.
    const SIZE label144 = TextSize("L1");
    EXPECT_GT(label144.cx, label96.cx);
    EXPECT_GE(Rect("L1")[2], label144.cx);
    EXPECT_GE(Rect("L1")[3], label144.cy);
    EXPECT_EQ(Rect("L1")[0], 11);  // 7 * 1.5 = 10.5
    // The status bar's first panel ends at half its width (152 layout
    // pixels), scaled.
    int edges[2] = {};
    SendMessageW(Get("S1")->Handle(), SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges));
    EXPECT_EQ(edges[0], 228);
    // The layout units are what they were.
    EXPECT_EQ(Get("E1")->Left(), 11);
    EXPECT_EQ(Get("E1")->Width(), 33);
    EXPECT_EQ(window->ClientWidth(), 305);

    // And back: every rectangle exactly as before.
    SendDpiChanged(96, {10, 10, 10 + 320, 10 + 240});
    EXPECT_EQ(Client(), client96);
    for (size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(Rect(names[i]), rects96[i]) << names[i];
    EXPECT_EQ(FontHeight("B1"), 11);
    EXPECT_EQ(FontHeight("C1"), 15);
}

TEST_F(FormScalingTest, TheFrameAskedForAtANewDpiHoldsTheScaledClientArea) {
    Read(kLayout);
    SIZE size{};
    ASSERT_TRUE(SendMessageW(window->Handle(), WM_GETDPISCALEDSIZE, 192, reinterpret_cast<LPARAM>(&size)));
    RECT frame{0, 0, 610, 402};
    auto style = static_cast<DWORD>(GetWindowLongPtrW(window->Handle(), GWL_STYLE));
    auto ex = static_cast<DWORD>(GetWindowLongPtrW(window->Handle(), GWL_EXSTYLE));
    ASSERT_TRUE(AdjustWindowRectForDpi(frame, style, false, ex, 192));
    EXPECT_EQ(size.cx, frame.right - frame.left);
    EXPECT_EQ(size.cy, frame.bottom - frame.top);
    EXPECT_GT(size.cx, 610);
}

TEST_F(FormScalingTest, AFormDesignedAtAnotherDpiIsScaledFromIt) {
    // Designed at 120 DPI, shown at 96: everything four fifths as large.
    Read(R"(QvScalingWindow W {
  BorderStyle = bsDialog  PixelsPerInch = 120  ClientWidth = 400  ClientHeight = 250
  Font { Name = "MS Sans Serif" Height = 15 }
  Button B1 { Left = 10 Top = 20 Width = 100 Height = 30 Caption = "Press" }
})");
    ASSERT_EQ(window->CurrentDpi(), 96) << "run this test in a prefix at 96 DPI";
    EXPECT_EQ(Client(), (std::vector<long>{320, 200}));
    EXPECT_EQ(Rect("B1"), (std::vector<long>{8, 16, 80, 24}));
    EXPECT_EQ(FontHeight("B1"), 12);
}

// ---- keys ---------------------------------------------------------------

class FormKeysTest : public FormScalingTest {
protected:
    void SetUp() override {
        FormScalingTest::SetUp();
        Read(R"(QvScalingWindow W {
  BorderStyle = bsDialog  ClientWidth = 300  ClientHeight = 200
  Memo M1 { Left = 8 Top = 8 Width = 120 Height = 60 TabOrder = 0 }
  Button Quit { Left = 8 Top = 80 Width = 75 Height = 25 Caption = "Quit" Cancel = true TabOrder = 1 OnClick = Clicked }
  Button Go { Left = 90 Top = 80 Width = 75 Height = 25 Caption = "Go" Default = true TabOrder = 2 OnClick = Clicked }
  Edit E1 { Left = 8 Top = 120 Width = 120 Height = 20 TabOrder = 3 }
  CheckBox C1 { Left = 140 Top = 120 Width = 100 Height = 17 Caption = "Check" TabOrder = 4 OnClick = Clicked }
  Button Other { Left = 172 Top = 80 Width = 75 Height = 25 Caption = "Other" TabOrder = 5 OnClick = Clicked }
})");
        window->Show();
    }
    void TearDown() override { SetShift(false); }
    // A key as the keyboard queues it for the focused control, handled by
    // the application's message loop.
    void Press(UINT vk) {
        HWND target = GetFocus();
        ASSERT_NE(target, nullptr);
        PostMessageW(target, WM_KEYDOWN, vk, 1);
        PostMessageW(target, WM_KEYUP, vk, 1 | (1u << 30) | (1u << 31));
        Application::Instance().ProcessMessages();
    }
    static void SetShift(bool down) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_SHIFT] = down ? 0x80 : 0;
        SetKeyboardState(keys);
    }
    std::string FocusName() {
        Control* c = Control::FromHandle(GetFocus());
        return c ? c->Name() : std::string("(none)");
    }
};

TEST_F(FormKeysTest, TabWalksTheTabOrderAlsoOutOfAMultiLineTextBox) {
    EXPECT_EQ(FocusName(), "M1");  // the first of the Tab order on showing
    std::vector<std::string> walk;
    for (int i = 0; i < 6; ++i) {
        Press(VK_TAB);
        walk.push_back(FocusName());
    }
    EXPECT_EQ(walk, (std::vector<std::string>{"Quit", "Go", "E1", "C1", "Other", "M1"}));
    // The memo let the key go: no tab character in it, and nothing was
    // clicked on the way.
    EXPECT_EQ(Get("M1")->GetText(), "");
    EXPECT_TRUE(window->clicks.empty());
    // Shift+Tab walks back.
    SetShift(true);
    Press(VK_TAB);
    EXPECT_EQ(FocusName(), "Other");
    Press(VK_TAB);
    EXPECT_EQ(FocusName(), "C1");
    SetShift(false);
}

TEST_F(FormKeysTest, EnterPressesTheFocusedButtonOrTheDefaultOne) {
    struct Case {
        const char* focus;
        std::vector<std::string> clicks;
        const char* memoText;
    } cases[] = {
        {"Other", {"Other"}, ""},  // a focused button: itself, not the default
        {"Quit", {"Quit"}, ""},
        {"E1", {"Go"}, ""},        // a one-line text box: the default button
        {"C1", {"Go"}, ""},        // a check box is no push button
        {"M1", {}, "\r\n"},        // a multi-line text box takes Enter itself
    };
    for (const Case& c : cases) {
        window->clicks.clear();
        Get("M1")->SetText("");
        Get(c.focus)->SetFocus();
        ASSERT_EQ(FocusName(), c.focus);
        Press(VK_RETURN);
        EXPECT_EQ(window->clicks, c.clicks) << c.focus;
        EXPECT_EQ(Get("M1")->GetText(), c.memoText) << c.focus;
    }
}

TEST_F(FormKeysTest, EscPressesTheCancelButtonFromAnyControlUnlessItIsDisabled) {
    for (const char* focus : {"M1", "Go", "E1", "C1"}) {
        window->clicks.clear();
        Get(focus)->SetFocus();
        Press(VK_ESCAPE);
        EXPECT_EQ(window->clicks, (std::vector<std::string>{"Quit"})) << focus;
    }
    window->clicks.clear();
    Get("Quit")->SetEnabled(false);
    Get("E1")->SetFocus();
    Press(VK_ESCAPE);
    EXPECT_TRUE(window->clicks.empty());
    // Without a Cancel button Esc clicks nothing either.
    Get("Quit")->SetEnabled(true);
    dynamic_cast<Button*>(Get("Quit"))->SetCancel(false);
    Press(VK_ESCAPE);
    EXPECT_TRUE(window->clicks.empty());
}

}  // namespace
}  // namespace qv
