// The records a dispatcher keeps and hands out: its handlers (methods and
// procedures), its line settings and its triggers, and the status counts of
// its device.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "comms/base/comm_misc_core.h"

namespace qv {

// ---- method handlers ---------------------------------------------------
// An event handler registered with AddEventHandler: a plain function and the
// object it runs on. Handlers are compared by their code only (removal
// finds the first entry with the same code), so bind one member function
// per purpose:
//
//   d->AddEventHandler(DispatchMethod::Bind<&DataPacketManager::DataHandler>(this));
//   d->RemoveEventHandler(DispatchMethod::Bind<&DataPacketManager::DataHandler>(this));
//
// The member function has the signature void (UINT Msg, WPARAM, LPARAM).
struct DispatchMethod {
    using Code = void (*)(void* object, UINT msg, WPARAM wParam, LPARAM lParam);
    Code code = nullptr;
    void* object = nullptr;

    explicit operator bool() const { return code != nullptr; }
    void operator()(UINT msg, WPARAM wParam, LPARAM lParam) const { code(object, msg, wParam, lParam); }
    bool SameCode(const DispatchMethod& other) const { return code == other.code; }

    template <auto Member, class T>
    static DispatchMethod Bind(T* object) {
        return DispatchMethod{&Thunk<Member, T>, object};
    }

private:
    template <auto Member, class T>
    static void Thunk(void* object, UINT msg, WPARAM wParam, LPARAM lParam) {
        (static_cast<T*>(object)->*Member)(msg, wParam, lParam);
    }
};

// A procedure handler: a plain function.
using DispatchProc = void (*)(UINT msg, WPARAM wParam, LPARAM lParam);

// What AdjustHandlerFlags is told (the port: whether any of its trigger
// events is assigned).
enum HandlerFlagChange : int32_t { hcRecount = 0, hcPortHandlerOn = 1, hcPortHandlerOff = 2 };

// DeviceEscape functions: the RTS and DTR lines.
enum LineEscape : int32_t { leSetRts = 3, leClearRts = 4, leSetDtr = 5, leClearDtr = 6 };

// ---- line settings and triggers ---------------------------------------

struct LineSettings {
    int32_t Baud = 19200;
    uint8_t Parity = 0;
    uint8_t DataBits = 8;
    uint8_t StopBits = 1;      // stop-bits code
    uint32_t FlowFlags = 0;    // kFlow* bits
    uint8_t XonChar = 17;
    uint8_t XoffChar = 19;
    int32_t XonLimit = 0;
    int32_t XoffLimit = 0;
};
// Flow-control bits of LineSettings::FlowFlags.
inline constexpr uint32_t kFlowDtrHandshake = 1, kFlowRtsHandshake = 2, kFlowWaitDsr = 4, kFlowWaitCts = 8,
                          kFlowXonXoffIn = 16, kFlowXonXoffOut = 32, kFlowDtrOn = 64, kFlowRtsOn = 128;

struct TimerTrigger {
    int32_t Handle = 0;
    TickTimer Timer;
    int32_t Ticks = 0;
    bool Active = false;
};

// A data-match trigger fires when the received bytes contain its pattern.
struct DataTrigger {
    int32_t Handle = 0;
    std::string Pattern;
    bool IgnoreCase = false;
    int32_t Matched = 0;  // pattern bytes matched by the latest bytes
};

// Status trigger kinds (the low three bits of its handle).
inline constexpr int32_t kStatusModem = 1, kStatusLine = 2, kStatusOutputFree = 3, kStatusOutputUsed = 4,
                         kStatusOutputSent = 5;

// A status trigger fires once per activation when its condition holds:
// modem status bits under Mask changed; a line error under Mask is set;
// free output space reached Value; pending output fell to Value; a block
// was sent.
struct StatusTrigger {
    int32_t Handle = 0;
    int32_t Value = 0;
    uint32_t Mask = 0;
    uint8_t ModemSnapshot = 0;
    bool Active = false;
    bool Hit = false;
};

// The triggers a port carries across a close.
struct TriggerSaveArea {
    int32_t AvailThreshold = 0;
    bool Saved = false;  // lists present
    std::vector<TimerTrigger> Timers;
    std::vector<DataTrigger> DataTriggers;
    std::vector<StatusTrigger> StatusTriggers;
};

// Status counts the device reports.
struct DeviceCounts {
    int32_t InputCount = 0;
    int32_t OutputCount = 0;
};

}  // namespace qv
