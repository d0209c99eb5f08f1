#include "framework/timer.h"

#include "framework/application.h"
#include "framework/exception.h"

namespace qv {

namespace {
const wchar_t kTimerClass[] = L"QvTimerWindow";

void RegisterTimerClass(WNDPROC proc) {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kTimerClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("Cannot register the timer window class");
    done = true;
}
}  // namespace

Timer::Timer(Component* owner) : Component(owner) {
    RegisterTimerClass(TimerProc);
    window_ = CreateWindowExW(0, kTimerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window_) throw Exception("Cannot create the timer window");
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Timer::~Timer() {
    if (window_) {
        if (running_) KillTimer(window_, 1);
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

LRESULT CALLBACK Timer::TimerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        auto* self = reinterpret_cast<Timer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && self->running_ && self->onTimer_) {
            try {
                self->onTimer_(self);
            } catch (...) {
                Application::Instance().HandleCurrentException();
            }
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Timer::Update() {
    if (running_) {
        KillTimer(window_, 1);
        running_ = false;
    }
    if (enabled_ && interval_ > 0 && onTimer_ && !Loading()) {
        if (!SetTimer(window_, 1, static_cast<UINT>(interval_), nullptr)) throw Exception("Not enough timers available");
        running_ = true;
    }
}

void Timer::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    Update();
}

void Timer::SetInterval(int v) {
    if (v == interval_) return;
    interval_ = v;
    Update();
}

void Timer::SetOnTimer(NotifyEvent handler) {
    onTimer_ = std::move(handler);
    Update();
}

void Timer::Loaded() {
    Component::Loaded();
    Update();
}

const PropertyTable& Timer::StaticProperties() {
    static const PropertyTable table(&Component::StaticProperties(), {
        BooleanProperty<Timer>("Enabled", &Timer::Enabled, &Timer::SetEnabled),
        IntegerProperty<Timer>("Interval", &Timer::Interval, &Timer::SetInterval),
        EventProperty<Timer, NotifyEvent>("OnTimer", &Timer::GetOnTimer, &Timer::SetOnTimer),
    });
    return table;
}

}  // namespace qv
