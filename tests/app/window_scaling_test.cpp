// The upgrade window at the DPI of the prefix it runs in (96 in the test
// prefix; 144 in the copy that the ctest entry app_scaling_test_dpi144
// makes, where QV_EXPECT_DPI says so and the test fails if the prefix did
// not take it): client area, control rectangles within a pixel of the
// design scaled, fonts made at the scaled size, every text measured in its
// control's font against the control, nothing overlapping, and the same
// after the window is moved to a monitor of another DPI and back.
//
// The program entry runs with the per-monitor DPI awareness that the
// program's manifest declares; this test program has no manifest and asks
// for it at start (EnablePerMonitorDpiAwareness).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/get_update_file.h"
#include "comms/base/startup.h"
#include "comms/dispatch/startup.h"
#include "comms/port/startup.h"
#include "framework/application.h"
#include "framework/scaling.h"
#include "framework/win32_text.h"

namespace qv {
namespace {

// The window's design: rectangles at 96 DPI (left, top, width, height) and
// font heights in pixels at 96 DPI (0: the control shows no text). Labels
// size themselves to their texts: only their places are designed.
struct Design {
    const char* name;
    int left, top, width, height;  // width 0: sized to its text
    int fontHeight;
};
const Design kDesign[] = {
    {"ProgramIcon", 16, 12, 33, 33, 0},   {"Label3", 72, 18, 0, 0, 15},       {"Label2", 16, 56, 0, 0, 12},
    {"Label4", 16, 80, 0, 0, 12},          {"Label5", 280, 80, 0, 0, 12},      {"InfoMemo", 16, 104, 209, 137, 11},
    {"Memo1", 280, 104, 201, 137, 11},     {"Label1", 16, 260, 0, 0, 12},      {"StatusBar1", 72, 256, 409, 19, 11},
    {"btnDownload", 16, 296, 90, 25, 12},  {"UsePassiveMode", 120, 300, 121, 17, 11},
    {"UseSpareSystem", 256, 300, 121, 17, 11}, {"btnCancel", 396, 296, 90, 25, 12},
};

double Scaled(int v, int dpi) { return v * static_cast<double>(dpi) / 96.0; }

class WindowScalingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Application::Instance().SetTitle(kApplicationTitle);
        RegisterApplicationClasses();
    }
    void SetUp() override {
        Application::Instance().OnMessageBox = [](HWND, const std::string&, const std::string&, UINT) { return IDOK; };
        window = CreateForm<GetUpdateFile>();
        // The prefix holds no installation: the window says so (answered
        // above) and asks to end; the layout is what this test is about.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    void TearDown() override {
        window.reset();
        Application::Instance().OnMessageBox = nullptr;
    }
    Control* Get(const char* name) { return dynamic_cast<Control*>(window->FindComponent(name)); }
    RECT Rect(const char* name) {
        RECT r;
        GetWindowRect(Get(name)->Handle(), &r);
        MapWindowPoints(nullptr, window->Handle(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    static LOGFONTW FontOf(HWND h) {
        LOGFONTW lf{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
        return lf;
    }
    // The text measured with the control's own font.
    static SIZE TextExtent(HWND h, const std::wstring& text) {
        HDC dc = GetDC(h);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        SelectObject(dc, old);
        ReleaseDC(h, dc);
        size.cy = std::max<LONG>(size.cy, tm.tmHeight);
        return size;
    }

    // Everything this test asks of the window at a DPI.
    void CheckLayout(int dpi) {
        SCOPED_TRACE("at " + std::to_string(dpi) + " DPI");
        ASSERT_EQ(window->CurrentDpi(), dpi);
        RECT client;
        GetClientRect(window->Handle(), &client);
        EXPECT_NEAR(client.right, Scaled(506, dpi), 0.5);
        EXPECT_NEAR(client.bottom, Scaled(334, dpi), 0.5);
        std::vector<std::pair<const char*, RECT>> rects;
        for (const Design& d : kDesign) {
            SCOPED_TRACE(d.name);
            HWND h = Get(d.name)->Handle();
            ASSERT_TRUE(h);
            RECT r = Rect(d.name);
            rects.push_back({d.name, r});
            EXPECT_NEAR(r.left, Scaled(d.left, dpi), 1.0);
            EXPECT_NEAR(r.top, Scaled(d.top, dpi), 1.0);
            if (d.width) {
                EXPECT_NEAR(r.right - r.left, Scaled(d.width, dpi), 1.0);
                EXPECT_NEAR(r.bottom - r.top, Scaled(d.height, dpi), 1.0);
            }
            // Inside the client area.
            EXPECT_GE(r.left, 0);
            EXPECT_GE(r.top, 0);
            EXPECT_LE(r.right, client.right);
            EXPECT_LE(r.bottom, client.bottom);
            // The font made at the scaled size (the text drawn for this
            // DPI, not a small text stretched).
            if (d.fontHeight) {
                EXPECT_NEAR(-FontOf(h).lfHeight, Scaled(d.fontHeight, dpi), 0.5);
            }
            // The text fits: labels and buttons show it in their client
            // area (a button's frame and its focus rectangle take a few
            // pixels on each side), check boxes beside their box.
            std::wstring text = ToWide(Get(d.name)->GetText());
            if (text.empty() || std::string(d.name) == "StatusBar1") continue;
            SIZE size = TextExtent(h, text);
            RECT inside;
            GetClientRect(h, &inside);
            int room = inside.right, height = inside.bottom;
            const std::string kind = Get(d.name)->ClassName();
            if (kind == "Button") room -= 2 * ScaleValue(4, dpi, 96);
            if (kind == "CheckBox") room -= GetSystemMetrics(SM_CXMENUCHECK) + ScaleValue(4, dpi, 96);
            EXPECT_LE(size.cx, room) << "text " << size.cx << " wide";
            EXPECT_LE(size.cy, height) << "text " << size.cy << " high";
        }
        // The status bar's line of text fits its height.
        HWND status = Get("StatusBar1")->Handle();
        EXPECT_LE(TextExtent(status, L"D:\\Zentra\\main\\").cy, Rect("StatusBar1").bottom - Rect("StatusBar1").top);
        // The icon drawn at the scaled size.
        auto icon = reinterpret_cast<HICON>(SendMessageW(Get("ProgramIcon")->Handle(), STM_GETICON, 0, 0));
        ICONINFO info{};
        ASSERT_TRUE(icon && GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        EXPECT_EQ(bitmap.bmWidth, ScaleValue(32, dpi, 96));
        // No two controls overlap.
        for (size_t i = 0; i < rects.size(); ++i)
            for (size_t j = i + 1; j < rects.size(); ++j) {
                RECT both;
                EXPECT_FALSE(IntersectRect(&both, &rects[i].second, &rects[j].second))
                    << rects[i].first << " and " << rects[j].first << " overlap";
            }
    }

    ComponentPtr<GetUpdateFile> window;
};

TEST_F(WindowScalingTest, TheWindowIsLaidOutForTheDpiOfItsMonitor) {
    const int dpi = SystemDpi();
    if (const char* expected = std::getenv("QV_EXPECT_DPI")) {
        ASSERT_EQ(dpi, std::atoi(expected)) << "the prefix's DPI";
    }
    CheckLayout(dpi);
    // At 144 DPI the client area is half again as large: 759 x 501.
    if (dpi == 144) {
        RECT client;
        GetClientRect(window->Handle(), &client);
        EXPECT_EQ(client.right, 759);
        EXPECT_EQ(client.bottom, 501);
    }
}

TEST_F(WindowScalingTest, MovedToAMonitorOfAnotherDpiAndBack) {
    const int dpi = SystemDpi();
    // 96 and 144 DPI: the window fits the test display at both.
    const int other = dpi == 96 ? 144 : 96;
    std::vector<RECT> before;
    for (const Design& d : kDesign) before.push_back(Rect(d.name));
    RECT frame;
    GetWindowRect(window->Handle(), &frame);
    // The system's suggestion: the frame scaled.
    RECT suggested{frame.left, frame.top, frame.left + ScaleValue(frame.right - frame.left, other, dpi),
                   frame.top + ScaleValue(frame.bottom - frame.top, other, dpi)};
    SendMessageW(window->Handle(), WM_DPICHANGED, MAKEWPARAM(other, other), reinterpret_cast<LPARAM>(&suggested));
    CheckLayout(other);
    RECT back = frame;
    SendMessageW(window->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&back));
    CheckLayout(dpi);
    for (size_t i = 0; i < std::size(kDesign); ++i) {
        RECT r = Rect(kDesign[i].name);
        EXPECT_TRUE(EqualRect(&r, &before[i])) << kDesign[i].name << " is not where it was";
    }
}

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // As the program's manifest asks (this program has none).
    qv::EnablePerMonitorDpiAwareness();
    qv::Application::Instance().Initialize();
    qv::CommsBaseStartup base;
    qv::CommsDispatchStartup dispatch;
    qv::CommsPortStartup port;
    return RUN_ALL_TESTS();
}
