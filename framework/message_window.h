// MessageWindow: a hidden (message-only) window of a named class, owned by
// one object, with a handler per message. The one way this program makes
// such windows (the port's, the socket component's, the dispatcher's, the
// FTP client's, the timer's):
//
//  - the class is registered once per process, on first use (or at start-up
//    with RegisterClass, where a start-up section says so), with one shared
//    window procedure;
//  - the window is made by the constructor and destroyed by the destructor
//    (never copied); Handle() lends it out;
//  - the window maps to its MessageWindow once made (the messages of its
//    creation go to the default window procedure), and every message is
//    handed to the handler registered for it, else to the fallback, else to
//    the default window procedure;
//  - while a handler runs, the owner (a Lifetime: a component, a dispatcher)
//    is in use: freeing it from inside (Free, Retire) waits until the
//    handler has returned;
//  - one exception policy: what a handler throws is shown through the
//    application's standard exception report (on the main thread; dropped on
//    any other) and the message is answered with 0.
//
// Use:
//
//   class Port : public Component {
//       MessageWindow window_{L"commPortWindow", this};
//       Port() {
//           window_.On(MsgPortClose, [this](WPARAM, LPARAM) { SetOpen(false); return 0; });
//       }
//   };
//
// Messages posted to the window and never handled (the window went first)
// are dropped by the system; a poster whose messages own memory (lParam)
// takes them back with TakePosted before the window goes.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>
#include <vector>

#include "framework/lifetime.h"

namespace qv {

class MessageWindow {
public:
    using Handler = std::function<LRESULT(WPARAM wParam, LPARAM lParam)>;
    using Fallback = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

    // Makes the window (registering the class first when needed). owner:
    // held in use while a handler runs; may be none. Raises Exception when
    // the window cannot be made.
    MessageWindow(const wchar_t* className, Lifetime* owner);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND Handle() const { return window_; }

    // The handler of one message (replacing an earlier one); an empty
    // handler removes it.
    void On(UINT message, Handler handler);
    // For messages without a handler (instead of the default procedure).
    void SetFallback(Fallback fallback) { fallback_ = std::move(fallback); }

    bool Post(UINT message, WPARAM wParam, LPARAM lParam) const;
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const;
    // Removes every message still posted to the window and hands each to
    // `take` (to free what its lParam owns).
    void TakePosted(const std::function<void(const MSG&)>& take);

    // Registers a class (once per process; extraBytes: window bytes of the
    // class). Making a window registers its class itself; start-up code
    // calls this where the class must exist from the start.
    static void RegisterClass(const wchar_t* className, int extraBytes = 0);
    static void UnregisterClass(const wchar_t* className);

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    Lifetime* owner_;
    std::vector<std::pair<UINT, Handler>> handlers_;
    Fallback fallback_;
};

}  // namespace qv
