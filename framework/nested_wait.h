// Nested waits: code that must let time pass on the user-interface thread
// (a delay between two steps, a pause that keeps the window painted) while
// the thread goes on serving the messages it may serve. The one loop of its
// kind in the program: callers say what is served and when the wait is
// over, and never write a PeekMessage loop of their own.
//
//   // 300 ms in which only painting and other programs' calls are served:
//   WaitNestedFor(NestedWaitServes::PaintAndSent, 300);
//
//   // Until a timer runs out, handling one message of any kind per turn:
//   WaitNested(NestedWaitServes::OneMessage, [&] { return Expired(t) ? 0 : 11; });
//
// A quit request met by a wait that serves every message ends the wait and
// is posted again, so that the main loop still ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

namespace qv {

enum class NestedWaitServes : uint8_t {
    Nothing,       // sleeps only: no message of the thread is handled
    OneMessage,    // one pending message of the thread per turn, of any kind
    PaintAndSent,  // paint messages and calls that other threads or programs
                   // send; no input, timer or posted message
};

enum class NestedWaitEnd : uint8_t { Done, Quit };

// Handles at most one pending message of the thread (translated and
// dispatched). False when none was pending. A quit request is posted again
// at once and handed back in `handled` (message WM_QUIT).
bool ServeOneMessage(MSG& handled);

// Runs turns until `sleepBound` returns 0 or a quit request is met. Each
// turn first serves what `serves` lets through; then `sleepBound` says how
// long the wait may sleep before its next turn (0: the wait is over). A turn
// that served nothing sleeps that long or until a message it may serve
// arrives. lastServed, when given, receives the message the last turn
// served (message 0 when it served none).
NestedWaitEnd WaitNested(NestedWaitServes serves, const std::function<DWORD()>& sleepBound, MSG* lastServed = nullptr);

// The plain form: waits `milliseconds` of real time (0: returns at once,
// serving nothing).
NestedWaitEnd WaitNestedFor(NestedWaitServes serves, DWORD milliseconds);

}  // namespace qv
