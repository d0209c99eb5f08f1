#include "framework/message_window.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "framework/application.h"
#include "framework/exception.h"

namespace qv {

namespace {

std::set<std::wstring>& RegisteredClasses() {
    static std::set<std::wstring> classes;
    return classes;
}

}  // namespace

void MessageWindow::RegisterClass(const wchar_t* className, int extraBytes) {
    if (RegisteredClasses().count(className)) return;
    WNDCLASSW wc{};
    wc.lpfnWndProc = &MessageWindow::Proc;
    wc.cbWndExtra = extraBytes;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("Cannot register the window class " + std::string(className, className + wcslen(className)));
    RegisteredClasses().insert(className);
}

void MessageWindow::UnregisterClass(const wchar_t* className) {
    if (RegisteredClasses().erase(className)) ::UnregisterClassW(className, GetModuleHandleW(nullptr));
}

MessageWindow::MessageWindow(const wchar_t* className, Lifetime* owner) : owner_(owner) {
    RegisterClass(className);
    // The messages of the creation itself go to the default procedure; the
    // window maps to this object from then on.
    window_ = CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window_) throw Exception("Cannot create a hidden window");
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageWindow::~MessageWindow() {
    if (!window_) return;
    // Messages that the destruction itself sends find no object any more.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    // The objects of owned messages that will never be handled (posted
    // messages only: nothing is dispatched from here).
    for (UINT message : owned_) {
        MSG m;
        while (PeekMessageW(&m, window_, message, message, PM_REMOVE | PM_QS_POSTMESSAGE)) delete ParcelAt(m.lParam);
    }
    DestroyWindow(window_);
}

void MessageWindow::On(UINT message, Handler handler) {
    auto it = std::find_if(handlers_.begin(), handlers_.end(), [&](const auto& h) { return h.first == message; });
    if (!handler) {
        if (it != handlers_.end()) handlers_.erase(it);
    } else if (it != handlers_.end()) {
        it->second = std::move(handler);
    } else {
        handlers_.emplace_back(message, std::move(handler));
    }
}

bool MessageWindow::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
    return window_ && PostMessageW(window_, message, wParam, lParam);
}

LRESULT MessageWindow::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    return window_ ? SendMessageW(window_, message, wParam, lParam) : 0;
}

void MessageWindow::TakePosted(const std::function<void(const MSG&)>& take) {
    if (!window_) return;
    MSG m;
    while (PeekMessageW(&m, window_, 0, 0, PM_REMOVE)) {
        std::unique_ptr<Parcel> parcel(Owned(m.message) ? ParcelAt(m.lParam) : nullptr);
        take(m);
    }
}

void MessageWindow::MarkOwned(UINT message) {
    if (!Owned(message)) owned_.push_back(message);
}

bool MessageWindow::Owned(UINT message) const {
    return std::find(owned_.begin(), owned_.end(), message) != owned_.end();
}

bool MessageWindow::PostParcel(UINT message, WPARAM wParam, std::unique_ptr<Parcel> parcel) const {
    if (!Post(message, wParam, reinterpret_cast<LPARAM>(parcel.get()))) return false;
    (void)parcel.release();  // the message owns it now
    return true;
}

LRESULT CALLBACK MessageWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return self->Dispatch(message, wParam, lParam);
}

LRESULT MessageWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    // An owned message's object goes when its handling ends, however it
    // ends, unless the handler took it.
    std::unique_ptr<Parcel> parcel(Owned(message) ? ParcelAt(lParam) : nullptr);
    auto it = std::find_if(handlers_.begin(), handlers_.end(), [&](const auto& h) { return h.first == message; });
    if (it == handlers_.end() && !fallback_) return DefWindowProcW(window_, message, wParam, lParam);
    // The handler runs from a copy: it may replace itself, or its owner may
    // go (then this object goes with it and nothing here is touched again).
    Handler handler = it != handlers_.end() ? it->second : Handler();
    Fallback fallback = handler ? Fallback() : fallback_;
    std::optional<Lifetime::Use> use;
    if (owner_) use.emplace(*owner_);
    try {
        return handler ? handler(wParam, lParam) : fallback(message, wParam, lParam);
    } catch (...) {
        if (Application::Instance().IsMainThread()) Application::Instance().HandleCurrentException();
        return 0;
    }
}

}  // namespace qv
