// The byte stream of one TCP connection (platform-free): an input ring that
// the socket fills and a Telnet decoder that empties it, an output ring that
// a Telnet encoder fills and the socket empties, and the answers to the
// peer's option requests.
//
// The decoder is a state machine fed one byte at a time, so a Telnet
// sequence split between two receives (or across the end of the ring) is
// neither lost nor delivered as data: the state keeps what has been seen
// and the next bytes complete it. Decoding a stream whole or in any chunking
// gives the same bytes and the same answers.
#pragma once

#include <cstdint>
#include <string>

#include "comms/dispatch/byte_ring.h"

namespace qv {

// What the stream needs from its connection: the socket and the log.
class StreamLink {
public:
    // Receives at most size bytes; returns the count (0 or less: nothing).
    virtual int32_t LinkReceive(uint8_t* buffer, int32_t size) = 0;
    // Sends at most count bytes; returns the count taken (0 or less: none).
    virtual int32_t LinkSend(const uint8_t* data, int32_t count) = 0;
    // A dispatch-log record of the Telnet negotiation (type 10).
    virtual void LinkLog(uint8_t type, uint8_t subtype, int32_t value, const uint8_t* data, int32_t length) = 0;

protected:
    ~StreamLink() = default;
};

namespace telnet {
inline constexpr uint8_t SE = 240, SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255;
inline constexpr uint8_t CR = 13, LF = 10, NUL = 0;
inline constexpr uint8_t OptBinary = 0, OptEcho = 1, OptSga = 3, OptTerminalType = 24;
// Option states.
inline constexpr uint8_t Off = 0, On = 2;
// Log subtypes (type 10).
inline constexpr uint8_t LogSentWill = 20, LogSentWont = 21, LogSentDo = 22, LogSentDont = 23;
inline constexpr uint8_t LogRecvWill = 24, LogRecvWont = 25, LogRecvDo = 26, LogRecvDont = 27;
inline constexpr uint8_t LogCommand = 28, LogSentTerm = 29;
inline constexpr uint8_t LogType = 10;
}  // namespace telnet

class ConnectionStream {
public:
    // The input ring holds inSize bytes, the output ring outSize bytes.
    ConnectionStream(int32_t inSize, int32_t outSize, StreamLink& link);

    bool TelnetOn = false;
    uint8_t BinaryOption = telnet::Off;
    uint8_t SgaOption = telnet::Off;
    uint8_t EchoOption = telnet::Off;
    std::string TerminalType = "vt100";

    // Receives into the free space of the input ring: up to the end of the
    // ring and, only when that piece was filled completely, from the start
    // up to the read position.
    void Pull();
    // Decodes at most size bytes out of the input ring.
    int32_t Deliver(uint8_t* buffer, int32_t size);
    // Raw bytes waiting in the input ring (before decoding).
    int32_t InputRaw() const { return in_.Count(); }
    bool InputFull() const { return in_.Full(); }
    int32_t InputSize() const { return in_.Size(); }

    // Encodes a block into the output ring; returns the source bytes taken.
    // A doubled 0xFF or a CR NUL pair is stored whole or not at all.
    int32_t Store(const uint8_t* data, int32_t count);
    // Sends what the output ring holds (at most two sends).
    void SendStored();
    bool OutputEmpty() const { return out_.Empty(); }
    int32_t OutputStored() const { return out_.Count(); }
    int32_t OutputSize() const { return out_.Size(); }

    void FlushInput();
    void FlushOutput() { out_.Clear(); }

    // True while a Telnet sequence has been begun and not completed.
    bool InSequence() const { return state_ != State::Data; }

private:
    enum class State : uint8_t { Data, AfterCr, Iac, Option, SubFirst, Sub, SubIac };

    bool IsSpecial(uint8_t b) const {
        return TelnetOn && (b == telnet::IAC || (b == telnet::CR && BinaryOption == telnet::Off));
    }
    // Feeds one byte to the decoder; returns true when it yields b_out.
    bool Step(uint8_t b, uint8_t& out);
    void AnswerOption(uint8_t command, uint8_t option);
    void SendAnswer(uint8_t reply, uint8_t option);
    void SendTerminalType();

    StreamLink& link_;
    ByteRing in_;
    ByteRing out_;
    State state_ = State::Data;
    uint8_t command_ = 0;
};

}  // namespace qv
