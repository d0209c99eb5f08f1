// The Telnet stream of a TCP connection: decoding what the socket receives,
// answering option requests, and encoding what is sent.
//
// Invariants:
//  - decoding a byte stream whole, or through a small input ring filled in
//    random receive sizes and emptied in random delivery sizes, gives the
//    same data, the same answers on the wire, the same log records and the
//    same option states;
//  - with Telnet off the data comes through unchanged and nothing is sent;
//  - encoding any data in any block sizes through a small output ring and
//    decoding the wire with the same settings gives the data back, with no
//    answers and no log records (encoded data never reads as a command);
//  - the encoder always takes something from a block while its ring is
//    empty (a doubled 0xFF or CR NUL pair never waits for room it cannot get).
#include <algorithm>
#include <string>
#include <vector>

#include "comms/dispatch/telnet_stream.h"
#include "fuzz_support.h"

namespace {

using qv::ConnectionStream;
using qv::fuzz::Input;
using qv::fuzz::Show;

struct Settings {
    bool telnetOn = true;
    uint8_t binary = qv::telnet::Off;
    uint8_t sga = qv::telnet::Off;
    std::string terminalType;

    void ApplyTo(ConnectionStream& s) const {
        s.TelnetOn = telnetOn;
        s.BinaryOption = binary;
        s.SgaOption = sga;
        s.TerminalType = terminalType;
    }
};

// A socket that hands out `incoming` in the receive sizes given (cycled),
// takes everything sent, and records the log.
class Link : public qv::StreamLink {
public:
    std::string incoming;
    size_t at = 0;
    std::vector<int32_t> receiveSizes{0x7fffffff};
    size_t nextSize = 0;
    std::vector<int32_t> sendSizes{0x7fffffff};
    size_t nextSend = 0;
    std::string wire;
    std::string log;

    int32_t LinkReceive(uint8_t* buffer, int32_t size) override {
        int32_t limit = receiveSizes[nextSize++ % receiveSizes.size()];
        auto n = static_cast<int32_t>(std::min<size_t>({size_t(size), size_t(limit), incoming.size() - at}));
        std::copy_n(incoming.data() + at, n, buffer);
        at += static_cast<size_t>(n);
        return n;
    }
    int32_t LinkSend(const uint8_t* data, int32_t count) override {
        int32_t n = std::min(count, sendSizes[nextSend++ % sendSizes.size()]);
        wire.append(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
        return n;
    }
    void LinkLog(uint8_t type, uint8_t subtype, int32_t value, const uint8_t* data, int32_t length) override {
        log += std::to_string(type) + "/" + std::to_string(subtype) + "/" + std::to_string(value) + "/" +
               std::string(reinterpret_cast<const char*>(data), data ? static_cast<size_t>(length) : 0) + ";";
    }
    bool Drained() const { return at == incoming.size(); }
};

struct Decoded {
    std::string data, wire, log;
    uint8_t binary, sga, echo;
    bool inSequence;
};

Decoded Finish(const ConnectionStream& s, const Link& link, std::string data) {
    return {std::move(data), link.wire, link.log, s.BinaryOption, s.SgaOption, s.EchoOption, s.InSequence()};
}

Decoded DecodeWhole(const std::string& bytes, const Settings& settings) {
    Link link;
    link.incoming = bytes;
    ConnectionStream s(std::max<int32_t>(1, static_cast<int32_t>(bytes.size())), 16, link);
    settings.ApplyTo(s);
    s.Pull();
    QV_FUZZ_CHECK(link.Drained(), "one receive into a ring of the whole size takes everything");
    std::string out(bytes.size(), '\0');
    int32_t n = s.Deliver(reinterpret_cast<uint8_t*>(out.data()), static_cast<int32_t>(out.size()));
    QV_FUZZ_CHECK(s.InputRaw() == 0, "");
    out.resize(static_cast<size_t>(n));
    return Finish(s, link, out);
}

Decoded DecodeChunked(const std::string& bytes, const Settings& settings, int32_t ringSize,
                      std::vector<int32_t> receiveSizes, const std::vector<int32_t>& deliverSizes) {
    Link link;
    link.incoming = bytes;
    link.receiveSizes = std::move(receiveSizes);
    ConnectionStream s(ringSize, 16, link);
    settings.ApplyTo(s);
    std::string out;
    size_t turn = 0;
    while (!link.Drained() || s.InputRaw() > 0) {
        size_t before = link.at;
        int32_t raw = s.InputRaw();
        s.Pull();
        QV_FUZZ_CHECK(s.InputRaw() - raw == static_cast<int32_t>(link.at - before), "received bytes lost or invented");
        QV_FUZZ_CHECK(s.InputRaw() <= s.InputSize(), "");
        int32_t want = deliverSizes[turn++ % deliverSizes.size()];
        std::string piece(static_cast<size_t>(want) + 8, '\x5a');
        raw = s.InputRaw();
        int32_t n = s.Deliver(reinterpret_cast<uint8_t*>(piece.data()), want);
        QV_FUZZ_CHECK(n >= 0 && n <= want, "");
        QV_FUZZ_CHECK(piece.compare(static_cast<size_t>(want), 8, std::string(8, '\x5a')) == 0,
                      "Deliver wrote past the size it was given");
        QV_FUZZ_CHECK(raw == 0 || s.InputRaw() < raw, "Deliver made no progress");
        out.append(piece, 0, static_cast<size_t>(n));
    }
    return Finish(s, link, out);
}

void CheckSame(const Decoded& whole, const Decoded& chunked, const std::string& input) {
    QV_FUZZ_CHECK(whole.data == chunked.data, Show(input) + ": " + Show(whole.data) + " vs " + Show(chunked.data));
    QV_FUZZ_CHECK(whole.wire == chunked.wire, Show(input));
    QV_FUZZ_CHECK(whole.log == chunked.log, Show(input));
    QV_FUZZ_CHECK(whole.binary == chunked.binary && whole.sga == chunked.sga && whole.echo == chunked.echo,
                  Show(input));
    QV_FUZZ_CHECK(whole.inSequence == chunked.inSequence, Show(input));
}

// Encodes `data` in the given block sizes through an output ring of
// `ringSize` bytes; the link takes the sends in the given sizes.
std::string Encode(const std::string& data, const Settings& settings, int32_t ringSize,
                   const std::vector<int32_t>& blockSizes, std::vector<int32_t> sendSizes) {
    Link link;
    link.sendSizes = std::move(sendSizes);
    ConnectionStream s(16, ringSize, link);
    settings.ApplyTo(s);
    size_t at = 0, turn = 0;
    while (at < data.size()) {
        auto block = static_cast<int32_t>(std::min<size_t>(size_t(blockSizes[turn++ % blockSizes.size()]), data.size() - at));
        bool wasEmpty = s.OutputEmpty();
        int32_t taken = s.Store(reinterpret_cast<const uint8_t*>(data.data() + at), block);
        QV_FUZZ_CHECK(taken >= 0 && taken <= block, "");
        QV_FUZZ_CHECK(taken > 0 || !wasEmpty, "an empty ring took nothing of " + Show(data.substr(at, size_t(block))));
        QV_FUZZ_CHECK(s.OutputStored() <= s.OutputSize(), "");
        at += static_cast<size_t>(taken);
        s.SendStored();
    }
    while (!s.OutputEmpty()) {
        int32_t stored = s.OutputStored();
        s.SendStored();
        QV_FUZZ_CHECK(s.OutputStored() < stored, "sending made no progress");
    }
    QV_FUZZ_CHECK(link.log.empty(), "");
    return link.wire;
}

std::vector<int32_t> Sizes(Input& in, int32_t low, int32_t high) {
    std::vector<int32_t> sizes;
    int count = 1 + in.Byte() % 8;
    for (int i = 0; i < count; ++i) sizes.push_back(static_cast<int32_t>(in.Range(low, high)));
    return sizes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    Settings settings;
    uint8_t flags = in.Byte();
    settings.telnetOn = !(flags & 1);
    settings.binary = (flags & 2) ? qv::telnet::On : qv::telnet::Off;
    settings.sga = (flags & 4) ? qv::telnet::On : qv::telnet::Off;
    settings.terminalType = in.Bytes(in.Byte() % 16);
    int32_t inRing = static_cast<int32_t>(in.Range(1, 64));
    int32_t outRing = static_cast<int32_t>(in.Range(2, 64));
    std::vector<int32_t> receiveSizes = Sizes(in, 1, 80);
    std::vector<int32_t> deliverSizes = Sizes(in, 1, 80);
    std::vector<int32_t> blockSizes = Sizes(in, 1, 80);
    std::vector<int32_t> sendSizes = Sizes(in, 1, 80);
    std::string bytes = in.Rest();

    Decoded whole = DecodeWhole(bytes, settings);
    CheckSame(whole, DecodeChunked(bytes, settings, inRing, receiveSizes, deliverSizes), bytes);
    if (!settings.telnetOn) {
        QV_FUZZ_CHECK(whole.data == bytes && whole.wire.empty() && whole.log.empty(), Show(bytes));
    }

    // The encoder's settings as the decoder on the other end knows them.
    std::string wire = Encode(bytes, settings, outRing, blockSizes, sendSizes);
    Decoded back = DecodeWhole(wire, settings);
    QV_FUZZ_CHECK(back.data == bytes, Show(bytes) + " came back as " + Show(back.data) + " from " + Show(wire));
    QV_FUZZ_CHECK(back.wire.empty() && back.log.empty(), Show(wire));
    return 0;
}
