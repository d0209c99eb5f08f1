#include "comms/dispatch/telnet_stream.h"

#include <algorithm>
#include <cstring>

namespace qv {

using namespace telnet;

ConnectionStream::ConnectionStream(int32_t inSize, int32_t outSize, StreamLink& link)
    : link_(link), in_(inSize), out_(outSize) {}

void ConnectionStream::Pull() {
    for (int piece = 0; piece < 2; ++piece) {
        int32_t span = in_.WriteSpan();
        if (span <= 0) return;
        int32_t n = link_.LinkReceive(in_.WritePointer(), span);
        if (n <= 0) return;
        n = std::min(n, span);
        in_.Produced(n);
        if (n < span) return;
    }
}

int32_t ConnectionStream::Deliver(uint8_t* buffer, int32_t size) {
    int32_t produced = 0;
    while (produced < size && !in_.Empty()) {
        if (state_ == State::Data) {
            // Copy the run of ordinary bytes up to the next special one.
            const uint8_t* p = in_.ReadPointer();
            int32_t span = std::min(in_.ReadSpan(), size - produced);
            int32_t run = 0;
            while (run < span && !IsSpecial(p[run])) ++run;
            if (run > 0) {
                std::memcpy(buffer + produced, p, static_cast<size_t>(run));
                produced += run;
                in_.Consumed(run);
                continue;
            }
        }
        uint8_t b = in_.PeekAt(0);
        in_.Consumed(1);
        uint8_t out;
        if (Step(b, out)) buffer[produced++] = out;
    }
    return produced;
}

bool ConnectionStream::Step(uint8_t b, uint8_t& out) {
    switch (state_) {
        case State::AfterCr:
            state_ = State::Data;
            if (b == NUL) return false;  // CR NUL is a bare CR
            [[fallthrough]];
        case State::Data:
            if (TelnetOn && b == IAC) {
                state_ = State::Iac;
                return false;
            }
            if (TelnetOn && b == CR && BinaryOption == Off) state_ = State::AfterCr;
            out = b;
            return true;
        case State::Iac:
            if (b == IAC) {
                state_ = State::Data;
                out = IAC;
                return true;
            }
            if (b >= WILL && b <= DONT) {
                command_ = b;
                state_ = State::Option;
            } else if (b == SB) {
                state_ = State::SubFirst;
            } else {
                link_.LinkLog(LogType, LogCommand, b, nullptr, 0);
                state_ = State::Data;
            }
            return false;
        case State::Option:
            state_ = State::Data;
            AnswerOption(command_, b);
            return false;
        case State::SubFirst:
            if (b == OptTerminalType) SendTerminalType();
            state_ = b == IAC ? State::SubIac : State::Sub;
            return false;
        case State::Sub:
            if (b == IAC) state_ = State::SubIac;
            return false;
        case State::SubIac:
            if (b == SE) state_ = State::Data;
            else if (b != IAC) state_ = State::Sub;
            return false;
    }
    return false;
}

void ConnectionStream::AnswerOption(uint8_t command, uint8_t option) {
    link_.LinkLog(LogType, static_cast<uint8_t>(LogRecvWill + (command - WILL)), option, nullptr, 0);
    switch (command) {
        case WILL:
            if (option == OptBinary) {
                SendAnswer(DO, option);
                BinaryOption = On;
            } else if (option == OptEcho || option == OptSga) {
                SendAnswer(DO, option);
            } else {
                SendAnswer(DONT, option);
            }
            break;
        case WONT:
            SendAnswer(DONT, option);
            if (option == OptBinary) BinaryOption = Off;
            if (option == OptEcho) EchoOption = Off;
            if (option == OptSga) SgaOption = Off;
            break;
        case DO:
            if (option == OptBinary) {
                SendAnswer(WILL, option);
                BinaryOption = On;
            } else if (option == OptTerminalType) {
                SendAnswer(WILL, option);
            } else if (option == OptSga) {
                SendAnswer(SgaOption == On ? WILL : WONT, option);
            } else {
                SendAnswer(WONT, option);
            }
            break;
        case DONT:
            SendAnswer(WONT, option);
            if (option == OptBinary) BinaryOption = Off;
            if (option == OptSga) SgaOption = Off;
            break;
    }
}

void ConnectionStream::SendAnswer(uint8_t reply, uint8_t option) {
    const uint8_t bytes[3] = {IAC, reply, option};
    link_.LinkSend(bytes, 3);
    link_.LinkLog(LogType, static_cast<uint8_t>(LogSentWill + (reply - WILL)), option, nullptr, 0);
}

void ConnectionStream::SendTerminalType() {
    std::string bytes = {char(IAC), char(SB), char(OptTerminalType), char(0)};
    bytes += TerminalType;
    bytes += char(IAC);
    bytes += char(SE);
    link_.LinkSend(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
    link_.LinkLog(LogType, LogSentTerm, 0, reinterpret_cast<const uint8_t*>(TerminalType.data()),
                  static_cast<int32_t>(TerminalType.size()));
}

int32_t ConnectionStream::Store(const uint8_t* data, int32_t count) {
    if (count <= 0 || out_.Full()) return 0;
    bool special = false;
    if (TelnetOn)
        for (int32_t i = 0; i < count && !special; ++i) special = IsSpecial(data[i]);
    int32_t accepted = 0;
    if (!special) {
        while (accepted < count) {
            int32_t span = std::min(out_.WriteSpan(), count - accepted);
            if (span <= 0) break;
            std::memcpy(out_.WritePointer(), data + accepted, static_cast<size_t>(span));
            out_.Produced(span);
            accepted += span;
        }
        return accepted;
    }
    for (; accepted < count; ++accepted) {
        uint8_t b = data[accepted];
        if (b == IAC) {
            if (out_.Free() < 2) break;
            out_.PutByte(IAC);
            out_.PutByte(IAC);
        } else if (b == CR && BinaryOption == Off && !(accepted + 1 < count && data[accepted + 1] == LF)) {
            if (out_.Free() < 2) break;
            out_.PutByte(CR);
            out_.PutByte(NUL);
        } else {
            if (!out_.PutByte(b)) break;
        }
    }
    return accepted;
}

void ConnectionStream::SendStored() {
    for (int piece = 0; piece < 2; ++piece) {
        int32_t span = out_.ReadSpan();
        if (span <= 0) return;
        int32_t n = link_.LinkSend(out_.ReadPointer(), span);
        if (n <= 0) return;
        n = std::min(n, span);
        out_.Consumed(n);
        if (n < span) return;
    }
}

void ConnectionStream::FlushInput() {
    in_.Clear();
    state_ = State::Data;
}

}  // namespace qv
