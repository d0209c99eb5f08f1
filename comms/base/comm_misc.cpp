#include "comms/base/comm_misc.h"

#include <windows.h>

#include "framework/nested_wait.h"

namespace qv {

uint32_t TicksPerMillisecond = 0;

uint32_t CalibrationForFrequency(int64_t frequency) {
    uint64_t f = static_cast<uint64_t>(frequency);
    uint32_t high = static_cast<uint32_t>(f >> 32), low = static_cast<uint32_t>(f);
    if (high != 0 || low == 0) return 0;
    return low / 1000 + (low % 1000 > 500 ? 1 : 0);
}

void CalibrateMillisecondClock() {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency)) frequency.QuadPart = 0;
    TicksPerMillisecond = CalibrationForFrequency(frequency.QuadPart);
}

namespace {

// The multimedia timer, for a system without a high-resolution counter. Its
// library is loaded on the first call: where the counter exists (every
// current system) the program never maps it, and with it the libraries it
// pulls in, which cost about a mebibyte of working set.
uint32_t MultimediaMilliseconds() {
    using TimeGetTime = DWORD(WINAPI*)();
    static const TimeGetTime entry = [] {
        HMODULE library = LoadLibraryW(L"winmm.dll");
        FARPROC address = library ? GetProcAddress(library, "timeGetTime") : nullptr;
        return reinterpret_cast<TimeGetTime>(reinterpret_cast<void*>(address));
    }();
    return entry ? entry() : GetTickCount();
}

}  // namespace

uint32_t MillisecondClock() {
    if (TicksPerMillisecond == 0) return MultimediaMilliseconds();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<uint32_t>(static_cast<uint64_t>(counter.QuadPart) / TicksPerMillisecond);
}

void StartTickTimer(TickTimer& timer, int32_t ticks) { StartTickTimerAt(timer, ticks, CurrentTick()); }

bool TickTimerExpired(const TickTimer& timer) { return TickTimerExpiredAt(timer, CurrentTick()); }

namespace {

// A handled message as the pump reports it: (low 16 bits of its window) *
// 65536 + low 16 bits of its number; 0 for none.
uint32_t PumpCode(const MSG& msg) {
    uint32_t window = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(msg.hwnd)) & 0xFFFF;
    return window * 65536 + (msg.message & 0xFFFF);
}

}  // namespace

uint32_t PumpOneMessage() {
    MSG msg;
    return ServeOneMessage(msg) ? PumpCode(msg) : 0;
}

uint32_t DelayTicks(int32_t ticks, bool pump) {
    if (ticks < 1) return 0;
    TickTimer timer;
    StartTickTimer(timer, ticks);
    // The timer counts whole ticks: it is looked at five times a tick.
    MSG last{};
    WaitNested(pump ? NestedWaitServes::OneMessage : NestedWaitServes::Nothing,
               [&] { return TickTimerExpired(timer) ? DWORD(0) : DWORD(kMillisecondsPerTick / 5); }, &last);
    return PumpCode(last);
}

}  // namespace qv
