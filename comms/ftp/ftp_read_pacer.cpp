#include "comms/ftp/ftp_read_pacer.h"

namespace qv {

void FtpReadPacer::Start(uint32_t now) {
    lastEmpty_ = now;
    resting_ = false;
    rests_ = 0;
    restedMs_ = 0;
}

bool FtpReadPacer::ReadNow(uint32_t now) {
    if (resting_) return false;
    // Unsigned differences stay right across the counter's wrap.
    if (now - lastEmpty_ < kHoldMs) return true;
    resting_ = true;
    restStart_ = now;
    ++rests_;
    return false;
}

bool FtpReadPacer::PaceTimer(uint32_t now, bool othersWaiting) {
    lastEmpty_ = now;
    if (!resting_) return false;
    // Timers come oldest first: one that waits behind this one would wait
    // another HoldMs if reading resumed now.
    if (othersWaiting && now - restStart_ < kMaxRestMs) return false;
    resting_ = false;
    restedMs_ += now - restStart_;
    return true;
}

}  // namespace qv
