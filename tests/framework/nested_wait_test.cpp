// Nested waits on the real message queue (under Wine): what each kind of
// wait serves while it waits, how long it waits, and the quit request.
#include "framework/nested_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "framework/message_window.h"

namespace qv {
namespace {

constexpr UINT kPosted = WM_USER + 11, kSent = WM_USER + 12;

// Empties the thread's queue, so that no case leaves anything to the next.
void DrainQueue() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message != WM_QUIT) DispatchMessageW(&m);
    }
}

TEST(NestedWait, WhatEachKindServesWhileItWaits) {
    struct Case {
        const char* name;
        NestedWaitServes serves;
        bool postedHandled;  // a message posted to the thread's window
        bool sentHandled;    // a call another thread sends meanwhile
    } cases[] = {
        {"one message a turn", NestedWaitServes::OneMessage, true, true},
        {"paint and sent", NestedWaitServes::PaintAndSent, false, true},
        {"nothing", NestedWaitServes::Nothing, false, false},
    };
    for (const Case& c : cases) {
        MessageWindow window(L"qvTestNestedWait", nullptr);
        bool posted = false;
        std::atomic<bool> sent{false};
        window.On(kPosted, [&](WPARAM, LPARAM) {
            posted = true;
            return LRESULT(0);
        });
        window.On(kSent, [&](WPARAM, LPARAM) {
            sent = true;
            return LRESULT(0);
        });
        ASSERT_TRUE(window.Post(kPosted, 0, 0));
        HWND target = window.Handle();
        std::thread caller([target] {
            Sleep(50);
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(target, kSent, 0, 0, SMTO_NORMAL, 5000, &answer);
        });
        DWORD start = GetTickCount();
        EXPECT_EQ(WaitNestedFor(c.serves, 400), NestedWaitEnd::Done) << c.name;
        DWORD waited = GetTickCount() - start;
        bool sentDuringWait = sent;
        bool postedDuringWait = posted;
        EXPECT_GE(waited, 390u) << c.name;  // the whole time, whatever it served
        EXPECT_EQ(postedDuringWait, c.postedHandled) << c.name;
        EXPECT_EQ(sentDuringWait, c.sentHandled) << c.name;
        // What the wait left is served by the loop around it.
        while (!sent) {
            MSG m;
            if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
            else MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        caller.join();
        DrainQueue();
        EXPECT_TRUE(posted) << c.name;
    }
}

TEST(NestedWait, AQuitRequestEndsAWaitThatServesEverythingAndStaysPosted) {
    DrainQueue();
    PostQuitMessage(5);
    MSG last{};
    DWORD start = GetTickCount();
    EXPECT_EQ(WaitNested(NestedWaitServes::OneMessage, [] { return DWORD(50); }, &last), NestedWaitEnd::Quit);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(last.message, static_cast<UINT>(WM_QUIT));
    MSG m;
    ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(m.wParam, 5u);
    DrainQueue();
}

TEST(NestedWait, TheBoundIsAskedAfterEveryTurn) {
    DrainQueue();
    MessageWindow window(L"qvTestNestedWait", nullptr);
    int handled = 0;
    window.On(kPosted, [&](WPARAM, LPARAM) {
        ++handled;
        return LRESULT(0);
    });
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(window.Post(kPosted, 0, 0));
    // One message a turn: three turns serve the three messages, the fourth
    // finds nothing and the wait ends there.
    int turns = 0;
    MSG last{};
    EXPECT_EQ(WaitNested(NestedWaitServes::OneMessage, [&] { return ++turns < 4 ? DWORD(20) : DWORD(0); }, &last),
              NestedWaitEnd::Done);
    EXPECT_EQ(turns, 4);
    EXPECT_EQ(handled, 3);
    EXPECT_EQ(last.message, 0u);  // the last turn served nothing
    MSG one;
    EXPECT_FALSE(ServeOneMessage(one));
    EXPECT_EQ(one.message, 0u);
}

}  // namespace
}  // namespace qv
