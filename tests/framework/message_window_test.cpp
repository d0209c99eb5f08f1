// The hidden message window: one class for many windows, a handler per
// message, the fallback, the exception policy, the owner kept whole while a
// handler runs, posted messages taken back, and the objects that owned
// messages carry freed exactly once however their message ends.
#include "framework/message_window.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/component.h"
#include "framework/exception.h"

namespace qv {
namespace {

constexpr UINT kPing = WM_USER + 1, kOther = WM_USER + 2;

TEST(MessageWindow, HandlersFallbackAndTheDefaultProcedure) {
    MessageWindow a(L"qvTestMessageWindow", nullptr), b(L"qvTestMessageWindow", nullptr);
    EXPECT_NE(a.Handle(), b.Handle());
    a.On(kPing, [](WPARAM w, LPARAM l) { return LRESULT(w + l); });
    EXPECT_EQ(a.Send(kPing, 40, 2), 42);
    EXPECT_EQ(b.Send(kPing, 40, 2), 0);  // no handler: the default procedure
    a.On(kPing, [](WPARAM, LPARAM) { return LRESULT(7); });  // replaced
    EXPECT_EQ(a.Send(kPing, 0, 0), 7);
    std::vector<UINT> fell;
    a.SetFallback([&](UINT msg, WPARAM, LPARAM) {
        fell.push_back(msg);
        return LRESULT(5);
    });
    EXPECT_EQ(a.Send(kOther, 0, 0), 5);
    EXPECT_EQ(a.Send(kPing, 0, 0), 7);  // the handler comes first
    a.On(kPing, nullptr);                // removed: the fallback takes it
    EXPECT_EQ(a.Send(kPing, 0, 0), 5);
    EXPECT_EQ(fell, (std::vector<UINT>{kOther, kPing}));
    HWND gone = a.Handle();
    {
        MessageWindow c(L"qvTestMessageWindow", nullptr);
        gone = c.Handle();
    }
    EXPECT_FALSE(IsWindow(gone));
}

TEST(MessageWindow, WhatAHandlerThrowsGoesToTheReport) {
    std::vector<std::string> reports;
    Application::Instance().OnExceptionReport = [&](const std::string& text) { reports.push_back(text); };
    MessageWindow w(L"qvTestMessageWindow", nullptr);
    w.On(kPing, [](WPARAM, LPARAM) -> LRESULT { throw Exception("handler failed"); });
    EXPECT_EQ(w.Send(kPing, 0, 0), 0);
    EXPECT_EQ(reports, std::vector<std::string>{"handler failed"});
    Application::Instance().OnExceptionReport = nullptr;
}

// A component with a window; its handler frees it.
class Windowed : public Component {
public:
    Windowed(bool* destroyed) : destroyed_(destroyed) {}
    ~Windowed() override { *destroyed_ = true; }
    MessageWindow window{L"qvTestMessageWindow", this};

private:
    bool* destroyed_;
};

TEST(MessageWindow, TheOwnerStaysWholeWhileAHandlerRuns) {
    bool destroyed = false;
    auto* owner = new Windowed(&destroyed);
    bool wholeAfterFree = false;
    owner->window.On(kPing, [&](WPARAM, LPARAM) {
        Free(owner);
        wholeAfterFree = !destroyed && owner->Destroying();
        return LRESULT(3);
    });
    EXPECT_EQ(owner->window.Send(kPing, 0, 0), 3);
    EXPECT_TRUE(wholeAfterFree);
    EXPECT_TRUE(destroyed);  // gone when the handler had returned

    // A plain delete from inside cannot wait; the window's code survives it.
    destroyed = false;
    owner = new Windowed(&destroyed);
    HWND window = owner->window.Handle();
    owner->window.On(kPing, [&](WPARAM, LPARAM) {
        delete owner;
        return LRESULT(4);
    });
    EXPECT_EQ(SendMessageW(window, kPing, 0, 0), 4);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(IsWindow(window));
}

TEST(MessageWindow, PostedMessagesAreTakenBack) {
    MessageWindow w(L"qvTestMessageWindow", nullptr);
    int handled = 0;
    w.On(kPing, [&](WPARAM, LPARAM) {
        ++handled;
        return LRESULT(0);
    });
    for (WPARAM i = 1; i <= 3; ++i) ASSERT_TRUE(w.Post(kPing, i, 0));
    std::vector<WPARAM> taken;
    w.TakePosted([&](const MSG& m) { taken.push_back(m.wParam); });
    EXPECT_EQ(taken, (std::vector<WPARAM>{1, 2, 3}));
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    EXPECT_EQ(handled, 0);
}


// An object that counts how many of its kind are alive.
struct Counted {
    explicit Counted(std::string t) : text(std::move(t)) { ++alive; }
    ~Counted() { --alive; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    std::string text;
    static inline int alive = 0;
};

constexpr OwnedMessage<Counted> kCarry{WM_USER + 3};

void PumpAll() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
}

TEST(MessageWindow, AnOwnedMessageHandsItsObjectToTheHandlerOnce) {
    std::vector<std::string> reports;
    Application::Instance().OnExceptionReport = [&](const std::string& text) { reports.push_back(text); };
    Counted::alive = 0;
    MessageWindow w(L"qvTestMessageWindow", nullptr);
    std::vector<std::string> got;
    std::unique_ptr<Counted> kept;
    w.On(kCarry, [&](WPARAM code, std::unique_ptr<Counted> object) -> LRESULT {
        got.push_back(std::to_string(code) + ":" + (object ? object->text : "none"));
        if (code == 2) kept = std::move(object);  // the handler keeps it
        if (code == 3) throw Exception("handler failed");
        return 0;
    });
    ASSERT_TRUE(w.Post(kCarry, 1, std::make_unique<Counted>("a")));
    ASSERT_TRUE(w.Post(kCarry, 2, std::make_unique<Counted>("b")));
    ASSERT_TRUE(w.Post(kCarry, 3, std::make_unique<Counted>("c")));
    ASSERT_TRUE(w.Post(kCarry, 4, nullptr));
    EXPECT_EQ(Counted::alive, 3);
    PumpAll();
    EXPECT_EQ(got, (std::vector<std::string>{"1:a", "2:b", "3:c", "4:none"}));
    EXPECT_EQ(reports, std::vector<std::string>{"handler failed"});
    // The one the handler kept lives on; the others went with their handling.
    EXPECT_EQ(Counted::alive, 1);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->text, "b");
    kept.reset();
    EXPECT_EQ(Counted::alive, 0);
    Application::Instance().OnExceptionReport = nullptr;
}

TEST(MessageWindow, AnOwnedMessageNobodyHandlesFreesItsObject) {
    Counted::alive = 0;
    struct Case {
        const char* name;
        std::function<void(std::unique_ptr<MessageWindow>&)> loseIt;
    } cases[] = {
        {"handler removed before the message came",
         [](std::unique_ptr<MessageWindow>& w) {
             w->On(kCarry, nullptr);
             PumpAll();
         }},
        {"window gone first", [](std::unique_ptr<MessageWindow>& w) { w.reset(); }},
        {"taken back", [](std::unique_ptr<MessageWindow>& w) { w->TakePosted([](const MSG&) {}); }},
    };
    for (const Case& c : cases) {
        auto w = std::make_unique<MessageWindow>(L"qvTestMessageWindow", nullptr);
        int handled = 0;
        w->On(kCarry, [&](WPARAM, std::unique_ptr<Counted>) {
            ++handled;
            return LRESULT(0);
        });
        // A message of the same number for another window is not this
        // window's to free.
        MessageWindow other(L"qvTestMessageWindow", nullptr);
        std::string otherGot;
        other.On(kCarry, [&](WPARAM, std::unique_ptr<Counted> object) {
            otherGot = object->text;
            return LRESULT(0);
        });
        ASSERT_TRUE(w->Post(kCarry, 1, std::make_unique<Counted>("x")));
        ASSERT_TRUE(other.Post(kCarry, 1, std::make_unique<Counted>("kept")));
        ASSERT_TRUE(w->Post(kCarry, 2, std::make_unique<Counted>("y")));
        EXPECT_EQ(Counted::alive, 3) << c.name;
        c.loseIt(w);
        EXPECT_EQ(handled, 0) << c.name;
        PumpAll();
        EXPECT_EQ(otherGot, "kept") << c.name;
        EXPECT_EQ(Counted::alive, 0) << c.name;
    }
}

}  // namespace
}  // namespace qv
