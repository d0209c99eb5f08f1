#include "framework/timer.h"

#include "framework/exception.h"

namespace qv {

Timer::Timer(Component* owner) : Component(owner) {
    window_.On(WM_TIMER, [this](WPARAM, LPARAM) {
        if (running_ && onTimer_) onTimer_(this);
        return 0;
    });
}

Timer::~Timer() {
    if (running_) KillTimer(window_.Handle(), 1);
}

void Timer::Update() {
    if (running_) {
        KillTimer(window_.Handle(), 1);
        running_ = false;
    }
    if (enabled_ && interval_ > 0 && onTimer_ && !Loading()) {
        if (!SetTimer(window_.Handle(), 1, static_cast<UINT>(interval_), nullptr)) throw Exception("Not enough timers available");
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
