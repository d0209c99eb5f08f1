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
// A message that carries an object (a text, a record) is an OwnedMessage<T>:
// posted with Post, the message owns the object; the handler registered
// with On receives it as a std::unique_ptr<T>, and when nobody takes it (no
// handler, the handler throws, the window goes before the message is
// handled) the window frees it. Nothing is reclaimed by hand:
//
//   inline constexpr OwnedMessage<std::string> MsgStatusText{WM_USER + 1};
//   window_.On(MsgStatusText, [this](WPARAM code, std::unique_ptr<std::string> text) {
//       Show(code, text ? *text : std::string());
//       return LRESULT(0);
//   });
//   window_.Post(MsgStatusText, code, std::make_unique<std::string>(line));
//
// Such a message is only ever posted through Post: its lParam belongs to
// the window (never send it, never post it by hand). Other messages posted
// to the window and never handled are dropped by the system.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "framework/lifetime.h"

namespace qv {

// A message number whose messages carry an object of type T (see above).
template <class T>
struct OwnedMessage {
    UINT id;
};

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
    // `take`; the object an owned message carries is freed after that.
    void TakePosted(const std::function<void(const MSG&)>& take);

    // The handler of an owned message: it receives the object (none when
    // none was posted) and owns it from then on. An empty handler removes
    // it; objects still arriving are then freed unread.
    template <class T>
    using OwnedHandler = std::function<LRESULT(WPARAM wParam, std::unique_ptr<T> object)>;
    template <class T>
    void On(OwnedMessage<T> message, std::type_identity_t<OwnedHandler<T>> handler) {
        MarkOwned(message.id);
        if (!handler) {
            On(message.id, Handler());
            return;
        }
        On(message.id, [handler = std::move(handler)](WPARAM wParam, LPARAM lParam) {
            auto* parcel = dynamic_cast<ParcelOf<T>*>(ParcelAt(lParam));
            return handler(wParam, parcel ? std::move(parcel->object) : nullptr);
        });
    }
    // Posts an owned message with its object (which may be none). False
    // when it could not be posted; the object is freed then.
    template <class T>
    bool Post(OwnedMessage<T> message, WPARAM wParam, std::type_identity_t<std::unique_ptr<T>> object) {
        MarkOwned(message.id);
        auto parcel = std::make_unique<ParcelOf<T>>();
        parcel->object = std::move(object);
        return PostParcel(message.id, wParam, std::move(parcel));
    }

    // Registers a class (once per process; extraBytes: window bytes of the
    // class). Making a window registers its class itself; start-up code
    // calls this where the class must exist from the start.
    static void RegisterClass(const wchar_t* className, int extraBytes = 0);
    static void UnregisterClass(const wchar_t* className);

private:
    // What the lParam of an owned message points at: the object, in a box
    // that the window can free whatever its type.
    struct Parcel {
        virtual ~Parcel() = default;
    };
    template <class T>
    struct ParcelOf : Parcel {
        std::unique_ptr<T> object;
    };
    static Parcel* ParcelAt(LPARAM lParam) { return reinterpret_cast<Parcel*>(lParam); }
    void MarkOwned(UINT message);
    bool Owned(UINT message) const;
    bool PostParcel(UINT message, WPARAM wParam, std::unique_ptr<Parcel> parcel) const;

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    Lifetime* owner_;
    std::vector<std::pair<UINT, Handler>> handlers_;
    Fallback fallback_;
    std::vector<UINT> owned_;  // message numbers whose lParam is a Parcel
};

}  // namespace qv
