// The connection stream: Telnet decoding and answers, encoding into the
// output ring, and the same results whatever the chunking.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "comms/dispatch/telnet_stream.h"
#include "tests/comms/dispatch/test_bytes.h"

namespace qv {
namespace {

using namespace test;

struct LogRecord {
    uint8_t type, subtype;
    int32_t value;
    std::string data;
    bool operator==(const LogRecord&) const = default;
};

// A socket and log that record everything. Received data is handed out in
// the chunk sizes the test chooses; sends take what acceptLimit allows.
class FakeLink : public StreamLink {
public:
    std::deque<uint8_t> incoming;
    std::vector<int32_t> chunks;  // sizes of successive receives (0 = whatever fits)
    size_t nextChunk = 0;
    Bytes wire;  // everything sent
    std::vector<LogRecord> log;
    std::function<int32_t(int32_t)> acceptLimit;  // how much one send takes

    int32_t LinkReceive(uint8_t* buffer, int32_t size) override {
        int32_t n = std::min<int32_t>(size, static_cast<int32_t>(incoming.size()));
        if (nextChunk < chunks.size() && chunks[nextChunk] > 0) n = std::min(n, chunks[nextChunk]);
        ++nextChunk;
        for (int32_t i = 0; i < n; ++i) {
            buffer[i] = incoming.front();
            incoming.pop_front();
        }
        return n;
    }
    int32_t LinkSend(const uint8_t* data, int32_t count) override {
        int32_t n = acceptLimit ? std::min(count, acceptLimit(count)) : count;
        wire.insert(wire.end(), data, data + std::max(n, 0));
        return n;
    }
    void LinkLog(uint8_t type, uint8_t subtype, int32_t value, const uint8_t* data, int32_t length) override {
        log.push_back({type, subtype, value, std::string(reinterpret_cast<const char*>(data), data ? length : 0)});
    }
};

// Receives everything the link holds and decodes it, in pieces of at most
// deliverSize bytes.
Bytes Drain(ConnectionStream& stream, FakeLink& link, int32_t deliverSize = 4096) {
    Bytes out;
    std::vector<uint8_t> buffer(static_cast<size_t>(deliverSize));
    for (int guard = 0; guard < 100000; ++guard) {
        stream.Pull();
        int32_t n = stream.Deliver(buffer.data(), deliverSize);
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
        if (n == 0 && link.incoming.empty() && stream.InputRaw() == 0) break;
    }
    return out;
}

struct Decoded {
    Bytes data, answers;
};

Decoded DecodeWhole(const Bytes& input, bool telnet) {
    FakeLink link;
    ConnectionStream stream(4096, 4096, link);
    stream.TelnetOn = telnet;
    link.incoming.assign(input.begin(), input.end());
    Decoded d;
    d.data = Drain(stream, link);
    d.answers = link.wire;
    return d;
}

TEST(TelnetDecode, CasesFromTheWire) {
    struct Case {
        const char* name;
        bool telnet;
        Bytes input, delivered, answers;
    } cases[] = {
        {"doubled IAC", true, B({0xFF, 0xFF, 0x41}), B({0xFF, 0x41}), {}},
        {"telnet off passes IAC", false, B({0xFF, 0xFF, 0x41}), B({0xFF, 0xFF, 0x41}), {}},
        {"reply line unchanged", true, S("220 ready\r\n"), S("220 ready\r\n"), {}},
        {"CR NUL is CR", true, S("a\r") + B({0}) + S("b"), S("a\rb"), {}},
        {"CR then other byte", true, S("a\rb"), S("a\rb"), {}},
        {"DO terminal type", true, B({255, 253, 24}), {}, B({255, 251, 24})},
        {"terminal type request", true, B({255, 253, 24, 255, 250, 24, 1, 255, 240}), {},
         B({255, 251, 24}) + B({255, 250, 24, 0}) + S("vt100") + B({255, 240})},
        {"WILL echo", true, B({255, 251, 1}), {}, B({255, 253, 1})},
        {"DO echo refused", true, B({255, 253, 1}), {}, B({255, 252, 1})},
        {"other command dropped", true, S("x") + B({255, 241}) + S("y"), S("xy"), {}},
        {"subnegotiation swallowed", true, S("a") + B({255, 250, 31, 0, 80, 255, 255, 255, 240}) + S("b"), S("ab"), {}},
        {"command between data", true, S("12") + B({255, 251, 3}) + S("34"), S("1234"), B({255, 253, 3})},
    };
    for (const Case& c : cases) {
        Decoded d = DecodeWhole(c.input, c.telnet);
        EXPECT_EQ(d.data, c.delivered) << c.name;
        EXPECT_EQ(d.answers, c.answers) << c.name;
    }
}

TEST(TelnetDecode, OptionAnswersAndStates) {
    struct Case {
        uint8_t command, option, reply;
        bool binaryAfter;
    } cases[] = {
        {251, 0, 253, true},  {251, 1, 253, false}, {251, 3, 253, false}, {251, 5, 254, false},
        {252, 0, 254, false}, {252, 1, 254, false}, {252, 3, 254, false}, {252, 9, 254, false},
        {253, 0, 251, true},  {253, 24, 251, false}, {253, 3, 252, false}, {253, 1, 252, false},
        {253, 32, 252, false}, {254, 0, 252, false}, {254, 3, 252, false}, {254, 7, 252, false},
    };
    for (const Case& c : cases) {
        FakeLink link;
        ConnectionStream stream(64, 64, link);
        stream.TelnetOn = true;
        link.incoming = {255, c.command, c.option};
        EXPECT_TRUE(Drain(stream, link).empty());
        EXPECT_EQ(link.wire, B({255, c.reply, c.option})) << int(c.command) << "/" << int(c.option);
        EXPECT_EQ(stream.BinaryOption == telnet::On, c.binaryAfter) << int(c.command) << "/" << int(c.option);
        // One record for the command received, one for the answer sent.
        ASSERT_EQ(link.log.size(), 2u);
        EXPECT_EQ(link.log[0], (LogRecord{10, uint8_t(24 + c.command - 251), c.option, ""}));
        EXPECT_EQ(link.log[1], (LogRecord{10, uint8_t(20 + c.reply - 251), c.option, ""}));
    }
}

TEST(TelnetDecode, LogRecordsForCommandsAndTerminalType) {
    FakeLink link;
    ConnectionStream stream(64, 64, link);
    stream.TelnetOn = true;
    link.incoming = {255, 241, 255, 250, 24, 1, 255, 240};
    Drain(stream, link);
    ASSERT_EQ(link.log.size(), 2u);
    EXPECT_EQ(link.log[0], (LogRecord{10, 28, 241, ""}));
    EXPECT_EQ(link.log[1], (LogRecord{10, 29, 0, "vt100"}));
}

TEST(TelnetDecode, BinaryModeStopsCrProcessing) {
    FakeLink link;
    ConnectionStream stream(64, 64, link);
    stream.TelnetOn = true;
    link.incoming = {255, 251, 0, 'a', 13, 0, 'b'};
    EXPECT_EQ(Drain(stream, link), B({'a', 13, 0, 'b'}));
}

// Sequences cut between receives and across the end of a small input ring
// are completed by the next bytes: nothing lost, nothing delivered as data.
TEST(TelnetDecode, SplitSequencesWaitForTheirRest) {
    Bytes input = S("ab") + B({255}) + B({253}) + B({24}) + S("c\r") + B({0}) + S("d") + B({255, 250}) +
                  B({24, 1, 255}) + B({240}) + S("e") + B({255, 255}) + S("f");
    Decoded whole = DecodeWhole(input, true);
    EXPECT_EQ(whole.data, S("abc\rde") + B({255}) + S("f"));
    for (int ringSize : {3, 4, 5, 7}) {
        for (int chunk = 1; chunk <= 3; ++chunk) {
            FakeLink link;
            ConnectionStream stream(ringSize, 64, link);
            stream.TelnetOn = true;
            link.incoming.assign(input.begin(), input.end());
            link.chunks.assign(1000, chunk);
            Bytes data = Drain(stream, link, 2);
            EXPECT_EQ(data, whole.data) << ringSize << "/" << chunk;
            EXPECT_EQ(link.wire, whole.answers) << ringSize << "/" << chunk;
        }
    }
}

TEST(TelnetDecode, DeliverNeverExceedsTheAskedSize) {
    FakeLink link;
    ConnectionStream stream(64, 64, link);
    stream.TelnetOn = true;
    link.incoming.assign(40, 0xFF);
    stream.Pull();
    uint8_t buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), 0xAA);
    EXPECT_EQ(stream.Deliver(buffer, 3), 3);
    EXPECT_EQ(buffer[3], 0xAA);
    EXPECT_EQ(stream.InputRaw(), 34);  // three pairs consumed
}

TEST(TelnetEncode, WireBytes) {
    struct Case {
        const char* name;
        bool telnet, binary;
        Bytes block, wire;
    } cases[] = {
        {"IAC doubled", true, false, B({0xFF}), B({0xFF, 0xFF})},
        {"bare CR gets NUL", true, false, B({0x41, 0x0D, 0x42}), B({0x41, 0x0D, 0x00, 0x42})},
        {"CR LF kept", true, false, S("QUIT\r\n"), S("QUIT\r\n")},
        {"CR ending the block", true, false, S("x\r"), S("x\r") + B({0})},
        {"binary: CR alone", true, true, B({0x41, 0x0D, 0x42}), B({0x41, 0x0D, 0x42})},
        {"telnet off", false, false, B({0xFF, 0x0D, 0x42}), B({0xFF, 0x0D, 0x42})},
    };
    for (const Case& c : cases) {
        FakeLink link;
        ConnectionStream stream(64, 64, link);
        stream.TelnetOn = c.telnet;
        stream.BinaryOption = c.binary ? telnet::On : telnet::Off;
        EXPECT_EQ(stream.Store(c.block.data(), static_cast<int32_t>(c.block.size())), int32_t(c.block.size()))
            << c.name;
        stream.SendStored();
        EXPECT_EQ(link.wire, c.wire) << c.name;
        EXPECT_TRUE(stream.OutputEmpty()) << c.name;
    }
}

TEST(TelnetEncode, BinaryReceivedFromPeerSendsCrAlone) {
    FakeLink link;
    ConnectionStream stream(64, 64, link);
    stream.TelnetOn = true;
    link.incoming = {255, 251, 0};
    Drain(stream, link);
    link.wire.clear();
    Bytes block = B({0x0D});
    stream.Store(block.data(), 1);
    stream.SendStored();
    EXPECT_EQ(link.wire, B({0x0D}));
}

// A pair never splits at the end of the ring and nothing unsent is
// overwritten: the block is refused from the pair on.
TEST(TelnetEncode, FullRingRefusesAWholePair) {
    FakeLink link;
    link.acceptLimit = [](int32_t) { return 0; };  // nothing leaves the ring
    ConnectionStream stream(16, 5, link);
    stream.TelnetOn = true;
    Bytes block = S("abcd") + B({0xFF}) + S("e");
    EXPECT_EQ(stream.Store(block.data(), 6), 4);  // 'a'..'d' fit, FF FF would need two
    EXPECT_EQ(stream.OutputStored(), 4);
    Bytes cr = B({0x0D});
    EXPECT_EQ(stream.Store(cr.data(), 1), 0);  // CR NUL needs two, one is free
    Bytes one = S("z");
    EXPECT_EQ(stream.Store(one.data(), 1), 1);
    EXPECT_EQ(stream.Store(one.data(), 1), 0);  // full
    link.acceptLimit = nullptr;
    stream.SendStored();
    EXPECT_EQ(link.wire, S("abcdz"));
}

// ---- chunking fuzz (fixed seed) ----------------------------------------

Bytes RandomStream(std::mt19937& rng, size_t length) {
    static const uint8_t alphabet[] = {255, 255, 255, 13, 13, 0, 10, 250, 240, 251, 252, 253, 254, 24, 1, 3, 0,
                                       'a', 'b', 'z', ' ', 31, 241, 128};
    Bytes b(length);
    for (auto& x : b) x = alphabet[rng() % sizeof alphabet];
    return b;
}

TEST(TelnetFuzz, ChunkedDecodingMatchesWholeDecoding) {
    std::mt19937 rng(20240605);
    for (int round = 0; round < 300; ++round) {
        Bytes input = RandomStream(rng, 1 + rng() % 600);
        bool telnet = round % 7 != 0;
        Decoded whole = DecodeWhole(input, telnet);

        FakeLink link;
        int32_t ringSize = 1 + static_cast<int32_t>(rng() % 40);
        ConnectionStream stream(ringSize, 64, link);
        stream.TelnetOn = telnet;
        link.incoming.assign(input.begin(), input.end());
        for (int i = 0; i < 5000; ++i) link.chunks.push_back(static_cast<int32_t>(1 + rng() % 9));
        Bytes data;
        std::vector<uint8_t> buffer(16);
        for (int guard = 0; guard < 200000; ++guard) {
            if (rng() % 3) stream.Pull();
            int32_t size = static_cast<int32_t>(rng() % 17);
            int32_t n = stream.Deliver(buffer.data(), size);
            ASSERT_LE(n, size);
            data.insert(data.end(), buffer.begin(), buffer.begin() + n);
            if (link.incoming.empty() && stream.InputRaw() == 0) break;
        }
        ASSERT_EQ(data, whole.data) << "round " << round;
        ASSERT_EQ(link.wire, whole.answers) << "round " << round;
    }
}

// Whatever the block boundaries and however little each send takes,
// decoding the wire gives back exactly the bytes stored.
TEST(TelnetFuzz, EncodedWireDecodesToTheSource) {
    std::mt19937 rng(777);
    for (int round = 0; round < 200; ++round) {
        Bytes source = RandomStream(rng, 1 + rng() % 500);
        FakeLink link;
        link.acceptLimit = [&rng](int32_t count) { return static_cast<int32_t>(rng() % (count + 2)); };
        ConnectionStream stream(16, 4 + static_cast<int32_t>(rng() % 30), link);
        stream.TelnetOn = true;
        size_t at = 0;
        for (int guard = 0; guard < 100000 && (at < source.size() || !stream.OutputEmpty()); ++guard) {
            if (at < source.size()) {
                int32_t block = std::min<int32_t>(1 + rng() % 12, static_cast<int32_t>(source.size() - at));
                at += static_cast<size_t>(stream.Store(source.data() + at, block));
            }
            stream.SendStored();
        }
        ASSERT_EQ(at, source.size());
        ASSERT_TRUE(stream.OutputEmpty());
        // Decode with a peer that has the same (default) options.
        Decoded back = DecodeWhole(link.wire, true);
        ASSERT_EQ(back.data, source) << "round " << round;
    }
}

}  // namespace
}  // namespace qv
