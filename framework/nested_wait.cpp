#include "framework/nested_wait.h"

namespace qv {

namespace {

// What wakes a wait that served nothing: a message of a kind it may serve.
DWORD WakeMask(NestedWaitServes serves) {
    return serves == NestedWaitServes::PaintAndSent ? QS_SENDMESSAGE | QS_PAINT : QS_ALLINPUT;
}

// One turn's serving; true when it handled a message.
bool ServeTurn(NestedWaitServes serves, MSG& last) {
    last = MSG{};
    switch (serves) {
        case NestedWaitServes::OneMessage: return ServeOneMessage(last);
        case NestedWaitServes::PaintAndSent: {
            // Peeking serves the calls sent to the thread; of the queue,
            // only paint messages are taken.
            bool any = false;
            MSG m;
            while (PeekMessageW(&m, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) {
                DispatchMessageW(&m);
                last = m;
                any = true;
            }
            return any;
        }
        case NestedWaitServes::Nothing: break;
    }
    return false;
}

}  // namespace

bool ServeOneMessage(MSG& handled) {
    handled = MSG{};
    if (!PeekMessageW(&handled, nullptr, 0, 0, PM_REMOVE)) {
        handled = MSG{};
        return false;
    }
    if (handled.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(handled.wParam));
    } else {
        TranslateMessage(&handled);
        DispatchMessageW(&handled);
    }
    return true;
}

NestedWaitEnd WaitNested(NestedWaitServes serves, const std::function<DWORD()>& sleepBound, MSG* lastServed) {
    MSG last{};
    for (;;) {
        bool served = ServeTurn(serves, last);
        if (lastServed) *lastServed = last;
        if (served && last.message == WM_QUIT) return NestedWaitEnd::Quit;
        DWORD bound = sleepBound();
        if (bound == 0) return NestedWaitEnd::Done;
        if (served) continue;
        // Nothing was pending: give the processor away instead of spinning;
        // a message the wait may serve ends the sleep at once.
        if (serves == NestedWaitServes::Nothing) Sleep(bound);
        else MsgWaitForMultipleObjects(0, nullptr, FALSE, bound, WakeMask(serves));
    }
}

NestedWaitEnd WaitNestedFor(NestedWaitServes serves, DWORD milliseconds) {
    if (milliseconds == 0) return NestedWaitEnd::Done;
    const DWORD start = GetTickCount();
    return WaitNested(serves, [&] {
        DWORD elapsed = GetTickCount() - start;
        return elapsed >= milliseconds ? DWORD(0) : milliseconds - elapsed;
    });
}

}  // namespace qv
