// The dispatcher's line and flow settings, handed to the device (a socket
// device takes them without effect).
#include "comms/dispatch/dispatcher.h"

namespace qv {

// ---- line operations ---------------------------------------------------

// A line the dispatcher drives, unless the device drives it itself
// (automatic): 1 then, and nothing changes.
int32_t BaseDispatcher::SetControlLine(const bool& automatic, bool& stored, bool state, LineEscape set,
                                       LineEscape clear) {
    LockGuard guard(dataLock_);
    if (automatic) return 1;
    int32_t r = DeviceEscape(state ? set : clear);
    stored = state;
    return r < 0 ? kErrBadArgument : r;
}

int32_t BaseDispatcher::SetDtrLine(bool state) { return SetControlLine(dtrAuto_, dtrState_, state, leSetDtr, leClearDtr); }

int32_t BaseDispatcher::SetRtsLine(bool state) { return SetControlLine(rtsAuto_, rtsState_, state, leSetRts, leClearRts); }

int32_t BaseDispatcher::ConfigHardwareFlow(int32_t fullMark, int32_t resumeMark, uint32_t options) {
    if (fullMark < resumeMark || fullMark > inSize_) return kErrBadArgument;
    LineSettings s;
    {
        LockGuard guard(dataLock_);
        line_.FlowFlags &= ~(kFlowDtrHandshake | kFlowRtsHandshake | kFlowWaitDsr | kFlowWaitCts);
        if (options & 1) line_.FlowFlags |= kFlowDtrHandshake;
        if (options & 2) line_.FlowFlags |= kFlowRtsHandshake;
        if (options & 4) line_.FlowFlags |= kFlowWaitDsr;
        if (options & 8) line_.FlowFlags |= kFlowWaitCts;
        line_.XoffLimit = inSize_ - fullMark;
        line_.XonLimit = resumeMark;
        s = line_;
    }
    return ApplyLineSettings(s);
}

int32_t BaseDispatcher::ConfigSoftwareFlow(int32_t fullMark, int32_t resumeMark, uint32_t options) {
    if (fullMark < resumeMark || fullMark > inSize_) return kErrBadArgument;
    LineSettings s;
    {
        LockGuard guard(dataLock_);
        line_.FlowFlags &= ~(kFlowXonXoffIn | kFlowXonXoffOut);
        if (options & 2) {
            line_.FlowFlags |= kFlowXonXoffIn;
            line_.XoffLimit = inSize_ - fullMark;
            line_.XonLimit = resumeMark;
        }
        if (options & 1) line_.FlowFlags |= kFlowXonXoffOut;
        line_.XonChar = 17;
        line_.XoffChar = 19;
        s = line_;
    }
    return ApplyLineSettings(s);
}

int32_t BaseDispatcher::StopSoftwareFlow() {
    LineSettings s;
    {
        LockGuard guard(dataLock_);
        line_.FlowFlags &= ~(kFlowXonXoffIn | kFlowXonXoffOut);
        s = line_;
    }
    return ApplyLineSettings(s);
}

int32_t BaseDispatcher::ChangeFlowChars(uint8_t xon, uint8_t xoff) {
    LineSettings s;
    {
        LockGuard guard(dataLock_);
        line_.XonChar = xon;
        line_.XoffChar = xoff;
        s = line_;
    }
    return ApplyLineSettings(s);
}

int32_t BaseDispatcher::ApplyLineSettings(const LineSettings& settings) {
    LockGuard guard(dataLock_);
    LineSettings s = settings;
    if (!dtrAuto_) s.FlowFlags = dtrState_ ? (s.FlowFlags | kFlowDtrOn) : (s.FlowFlags & ~kFlowDtrOn);
    if (!rtsAuto_) s.FlowFlags = rtsState_ ? (s.FlowFlags | kFlowRtsOn) : (s.FlowFlags & ~kFlowRtsOn);
    int32_t r = DeviceSetLine(s);
    line_ = s;
    SetDtrLine(dtrState_);
    if (!rs485_) SetRtsLine(rtsState_);
    return r;
}

int32_t BaseDispatcher::ReadLineSettings(LineSettings& settings) {
    LockGuard guard(dataLock_);
    int32_t r = DeviceGetLine(line_);
    settings = line_;
    return r;
}

int32_t BaseDispatcher::ReadFlowSettings(uint32_t& flowFlags, uint8_t& xon, uint8_t& xoff) {
    LockGuard guard(dataLock_);
    int32_t r = DeviceGetLine(line_);
    flowFlags = line_.FlowFlags;
    xon = line_.XonChar;
    xoff = line_.XoffChar;
    return r;
}

int32_t BaseDispatcher::TakeLineError() {
    LockGuard guard(dataLock_);
    int32_t code = 0;
    if (lineErrors_ & 1) code = 1;
    else if (lineErrors_ & 2) code = 2;
    else if (lineErrors_ & 4) code = 3;
    else if (lineErrors_ & 8) code = 4;
    else if (lineErrors_ & 16) code = 9;
    if (code != 0) lineErrors_ &= ~0x0Fu;
    return code;
}

bool BaseDispatcher::TakeBreakFlag() {
    LockGuard guard(dataLock_);
    bool set = (lineErrors_ & 16) != 0;
    lineErrors_ &= ~16u;
    return set;
}

void BaseDispatcher::SetPortOption(uint32_t bit) {
    LockGuard guard(dataLock_);
    portOptions_ |= bit;
}

void BaseDispatcher::ClearPortOption(uint32_t bit) {
    LockGuard guard(dataLock_);
    portOptions_ &= ~bit;
}

}  // namespace qv
