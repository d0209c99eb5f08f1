// The dispatcher's handlers (methods, procedures, windows) and the delivery
// of a fired trigger to them.
#include "comms/dispatch/dispatcher.h"

#include <algorithm>

#include "comms/dispatch/dispatch_log_codes.h"

namespace qv {

using namespace dispatch_log;

// ---- handlers ----------------------------------------------------------

template <class Entry, class Match>
void BaseDispatcher::RemoveHandler(std::vector<Entry>& list, Match match) {
    auto it = std::find_if(list.begin(), list.end(), [&](const Entry& h) { return match(h) && !h.Deleted; });
    if (it == list.end()) {
        AdjustHandlerFlags(hcRecount);
    } else if (Dispatching()) {
        // A delivery walks the list: only marked now, freed when it ends.
        it->Deleted = true;
        handlersDeleted_ = true;
    } else {
        list.erase(it);
    }
}

void BaseDispatcher::AddWindowHandler(HWND window) {
    LockGuard guard(dataLock_);
    windowHandlers_.push_back({window, false});
    handlerService_ = true;
    if (logging_) AddLogEntry(ltHandlerAlloc, lsWindow, 0, nullptr, static_cast<int32_t>(reinterpret_cast<intptr_t>(window)));
}

void BaseDispatcher::RemoveWindowHandler(HWND window) {
    LockGuard guard(dataLock_);
    if (logging_)
        AddLogEntry(ltHandlerDispose, lsWindow, 0, nullptr, static_cast<int32_t>(reinterpret_cast<intptr_t>(window)));
    RemoveHandler(windowHandlers_, [&](const WindowHandler& h) { return h.Window == window; });
}

void BaseDispatcher::AddProcHandler(DispatchProc proc) {
    LockGuard guard(dataLock_);
    procHandlers_.push_back({proc, false});
    handlerService_ = true;
    if (logging_) AddLogEntry(ltHandlerAlloc, lsProcedure, 0, nullptr, 0);
}

void BaseDispatcher::RemoveProcHandler(DispatchProc proc) {
    LockGuard guard(dataLock_);
    if (logging_) AddLogEntry(ltHandlerDispose, lsProcedure, 0, nullptr, 0);
    RemoveHandler(procHandlers_, [&](const ProcHandler& h) { return h.Proc == proc; });
}

void BaseDispatcher::AddEventHandler(DispatchMethod method) {
    LockGuard guard(dataLock_);
    eventHandlers_.push_back({method, false});
    handlerService_ = true;
    if (logging_) AddLogEntry(ltHandlerAlloc, lsMethod, 0, nullptr, 0);
}

void BaseDispatcher::RemoveEventHandler(DispatchMethod method) {
    LockGuard guard(dataLock_);
    if (logging_) AddLogEntry(ltHandlerDispose, lsMethod, 0, nullptr, 0);
    RemoveHandler(eventHandlers_, [&](const EventHandler& h) { return h.Method.SameCode(method); });
}

void BaseDispatcher::AdjustHandlerFlags(HandlerFlagChange kind) {
    LockGuard guard(dataLock_);
    auto live = [](const auto& list) {
        return std::count_if(list.begin(), list.end(), [](const auto& h) { return !h.Deleted; });
    };
    bool others = live(windowHandlers_) > 1 || live(procHandlers_) > 0 || live(eventHandlers_) > 0;
    switch (kind) {
        case hcPortHandlerOn:
            portHandler_ = true;
            handlerService_ = true;
            break;
        case hcPortHandlerOff:
            portHandler_ = false;
            handlerService_ = others;
            break;
        case hcRecount:
        default:
            handlerService_ = others || portHandler_;
            break;
    }
}

template <class Entry>
void BaseDispatcher::FreeDeleted(std::vector<Entry>& list) {
    std::erase_if(list, [](const Entry& e) { return e.Deleted; });
}

// ---- delivery ----------------------------------------------------------

bool BaseDispatcher::DeliverEvent(UINT msg, WPARAM wParam, int32_t value) {
    if (!handlerService_) return true;
    DeliveryScope delivery(*this);
    maxFetched_ = 0;
    inDataMessage_ = msg == MsgTriggerAvail || msg == MsgTriggerData;
    LPARAM lParam = static_cast<LPARAM>(static_cast<int32_t>(static_cast<uint32_t>(handle_) * 65536u +
                                                             static_cast<uint32_t>(value)));
    // Whatever the handlers did (also when one raised): the message is over
    // for the ring, and the handlers removed meanwhile go when the outermost
    // delivery ends.
    struct Finish {
        BaseDispatcher& d;
        ~Finish() {
            LockGuard guard(d.dataLock_);
            d.inDataMessage_ = false;
            d.fetched_ = 0;
            if (d.delivering_ == 1 && d.handlersDeleted_) {
                d.FreeDeleted(d.windowHandlers_);
                d.FreeDeleted(d.procHandlers_);
                d.FreeDeleted(d.eventHandlers_);
                d.handlersDeleted_ = false;
                d.AdjustHandlerFlags(hcRecount);
            }
        }
    } finish{*this};
    bool stopped = false;
    // Each live entry present when the list's turn came is called, until a
    // close is asked for; call reads what it needs from the entry before
    // calling out (a handler may add to the list).
    auto callEach = [&](auto& list, auto call) {
        for (size_t i = 0, n = list.size(); i < n && i < list.size() && !stopped; ++i) {
            fetched_ = 0;
            if (!list[i].Deleted) call(list[i]);
            if (Retiring()) stopped = true;
            else maxFetched_ = std::max(maxFetched_, fetched_);
        }
    };
    callEach(eventHandlers_, [&](const EventHandler& h) {
        DispatchMethod method = h.Method;
        method(msg, wParam, lParam);
    });
    callEach(procHandlers_, [&](const ProcHandler& h) {
        DispatchProc proc = h.Proc;
        proc(msg, wParam, lParam);
    });
    auto liveWindows = std::count_if(windowHandlers_.begin(), windowHandlers_.end(),
                                     [](const WindowHandler& h) { return !h.Deleted; });
    if (!stopped && (liveWindows > 1 || portHandler_)) {
        callEach(windowHandlers_, [&](const WindowHandler& h) {
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(h.Window, msg, wParam, lParam, SMTO_BLOCK, 3000, &answer);
        });
    }
    if (stopped) return false;
    bool result = true;
    if (inDataMessage_) {
        LockGuard guard(bufferLock_);
        inDataMessage_ = false;
        if (ring_.Allocated()) {
            ring_.tail = DispatchRing::Wrap(ring_.tail + maxFetched_);
            if (maxFetched_ != 0) ring_.full = false;
        }
        if (msg == MsgTriggerAvail && maxFetched_ != static_cast<int32_t>(wParam)) result = false;
    }
    return result;
}

}  // namespace qv
