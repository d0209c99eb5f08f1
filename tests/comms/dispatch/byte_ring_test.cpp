// The dispatch ring's position arithmetic and the connection ring.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "comms/dispatch/byte_ring.h"

namespace qv {
namespace {

TEST(DispatchRing, UnreadAndFreePiecesByPosition) {
    struct Case {
        int32_t head, tail;
        bool full;
        int32_t unread, free, first;
    } cases[] = {
        {0, 0, false, 0, 8192, 8192},
        {100, 100, false, 0, 8192, 8092},   // empty, not at the start: first piece runs to the end
        {100, 100, true, 8192, 0, 0},
        {300, 100, false, 200, 7992, 7892},  // tail < head: free wraps
        {100, 300, false, 7992, 200, 200},   // tail > head: one piece
        {0, 8191, false, 1, 8191, 8191},
        {8191, 0, false, 8191, 1, 1},
    };
    for (const Case& c : cases) {
        DispatchRing r;
        r.head = c.head;
        r.tail = c.tail;
        r.full = c.full;
        int32_t free = -1, first = -1;
        r.FreePieces(free, first);
        EXPECT_EQ(r.Unread(), c.unread) << c.head << "/" << c.tail;
        EXPECT_EQ(free, c.free) << c.head << "/" << c.tail;
        EXPECT_EQ(first, c.first) << c.head << "/" << c.tail;
    }
}

TEST(DispatchRing, CopyOutWrapsOnce) {
    DispatchRing r;
    r.Allocate();
    for (int i = 0; i < kDispatchRingSize; ++i) r.data[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> out(10);
    r.CopyOut(8188, out.data(), 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], static_cast<uint8_t>(((8188 + i) % 8192) * 7)) << i;
    EXPECT_EQ(DispatchRing::Wrap(8192), 0);
    EXPECT_EQ(DispatchRing::Wrap(8192 + 5), 5);
    EXPECT_EQ(DispatchRing::Wrap(-1), 8191);
}

TEST(ByteRing, ProduceAndConsumeInTwoPiecesAcrossTheEnd) {
    ByteRing ring(8);
    auto put = [&](const char* s) {
        int32_t n = static_cast<int32_t>(std::strlen(s)), done = 0;
        while (done < n) {
            int32_t span = std::min(ring.WriteSpan(), n - done);
            if (span == 0) break;
            std::memcpy(ring.WritePointer(), s + done, span);
            ring.Produced(span);
            done += span;
        }
        return done;
    };
    auto take = [&](int32_t n) {
        std::string s;
        while (n > 0 && ring.ReadSpan() > 0) {
            int32_t span = std::min(ring.ReadSpan(), n);
            s.append(reinterpret_cast<const char*>(ring.ReadPointer()), span);
            ring.Consumed(span);
            n -= span;
        }
        return s;
    };
    EXPECT_EQ(put("abcdef"), 6);
    EXPECT_EQ(take(4), "abcd");
    EXPECT_EQ(put("ghijkl"), 6);  // wraps: 2 at the end, 4 at the start
    EXPECT_TRUE(ring.Full());
    EXPECT_EQ(ring.WriteSpan(), 0);
    EXPECT_EQ(put("x"), 0);
    EXPECT_EQ(ring.Count(), 8);
    EXPECT_EQ(ring.PeekAt(0), 'e');
    EXPECT_EQ(ring.PeekAt(7), 'l');
    EXPECT_EQ(take(100), "efghijkl");
    EXPECT_TRUE(ring.Empty());
    EXPECT_EQ(ring.Count(), 0);
}

TEST(ByteRing, RandomTrafficKeepsOrderAndCounts) {
    std::mt19937 rng(4711);
    ByteRing ring(37);
    std::vector<uint8_t> sent, received;
    uint8_t next = 0;
    for (int round = 0; round < 5000; ++round) {
        if (rng() % 2) {
            int32_t n = std::min<int32_t>(rng() % 20, ring.WriteSpan());
            for (int32_t i = 0; i < n; ++i) ring.WritePointer()[i] = next++, sent.push_back(next - 1);
            ring.Produced(n);
        } else {
            int32_t n = std::min<int32_t>(rng() % 20, ring.ReadSpan());
            received.insert(received.end(), ring.ReadPointer(), ring.ReadPointer() + n);
            ring.Consumed(n);
        }
        ASSERT_EQ(ring.Count(), static_cast<int32_t>(sent.size() - received.size()));
        ASSERT_LE(ring.Count(), 37);
    }
    while (ring.ReadSpan() > 0) {
        received.insert(received.end(), ring.ReadPointer(), ring.ReadPointer() + ring.ReadSpan());
        ring.Consumed(ring.ReadSpan());
    }
    EXPECT_EQ(sent, received);
}

}  // namespace
}  // namespace qv
