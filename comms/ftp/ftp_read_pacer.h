// When a download reads: the pacing that keeps the thread's own messages
// (its timers, paint and input) flowing while a fast server floods the data
// connection.
//
// Every read of the data socket makes the socket library post the next read
// notification at once while data remains, and every block read posts its
// scProgress. A thread whose queue always holds a posted message never gets
// a WM_TIMER, WM_PAINT or input message (those come only when no posted
// message waits), so a download faster than the reader would freeze the
// window for its whole length. The client therefore runs a short window
// timer, the pace timer, while a download runs; that timer comes only when
// the queue held nothing posted, so its arrival says the queue went empty:
//
//  - A read notification reads unless no pace timer came for HoldMs: then
//    the client rests (skips the notification and the ones queued behind
//    it). Posting nothing more, the queue empties, and every timer, paint
//    and input message that waited is delivered.
//  - A pace timer ends a rest when no other timer waits behind it (or the
//    rest has lasted MaxRestMs), and the client reads once, which brings
//    the socket library's notifications back.
//
// Time is a wrapping millisecond count; the pacer does no I/O.
#pragma once

#include <cstdint>

namespace qv {

class FtpReadPacer {
public:
    // The longest time reads go on without a pace timer getting through.
    static constexpr uint32_t kHoldMs = 25;
    // The longest rest, whatever else keeps waiting.
    static constexpr uint32_t kMaxRestMs = 20;

    // A new transfer starts at `now`: no rest, the queue counts as empty.
    void Start(uint32_t now);

    // A read notification at `now`: whether to read (false: rest).
    bool ReadNow(uint32_t now);

    // The pace timer came at `now`; othersWaiting: other timer messages are
    // still queued behind it. Whether the rest ended here (the caller then
    // reads once).
    bool PaceTimer(uint32_t now, bool othersWaiting);

    bool Resting() const { return resting_; }
    // Rests so far in this transfer, and their length in all.
    uint32_t Rests() const { return rests_; }
    uint32_t RestedMs() const { return restedMs_; }

private:
    uint32_t lastEmpty_ = 0;  // the last pace timer (or the start)
    uint32_t restStart_ = 0;
    uint32_t rests_ = 0;
    uint32_t restedMs_ = 0;
    bool resting_ = false;
};

}  // namespace qv
