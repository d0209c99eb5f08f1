// Timer: a window timer on a hidden message-only window of its own.
// It runs while Enabled, Interval > 0 and OnTimer is assigned. Switching it
// on starts a fresh interval; switching on a running timer changes nothing;
// a new Interval or OnTimer restarts the interval of a running timer.
// While the form is being read it waits for Loaded.
#pragma once

#include <windows.h>

#include "framework/component.h"
#include "framework/message_window.h"

namespace qv {

class Timer : public Component {
public:
    explicit Timer(Component* owner = nullptr);
    ~Timer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    int Interval() const { return interval_; }
    void SetInterval(int v);
    const NotifyEvent& GetOnTimer() const { return onTimer_; }
    void SetOnTimer(NotifyEvent handler);
    // True while the window timer is set.
    bool Running() const { return running_; }

    void Loaded() override;

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "Timer"; }

private:
    void Update();

    MessageWindow window_{L"QvTimerWindow", this};
    bool enabled_ = true;
    int interval_ = 1000;
    NotifyEvent onTimer_;
    bool running_ = false;
};

}  // namespace qv
