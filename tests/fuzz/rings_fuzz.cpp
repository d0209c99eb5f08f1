// The byte rings of the dispatch layer: the connection's ByteRing and the
// dispatcher's 8192-byte DispatchRing, driven by a script of operations and
// compared with a plain queue.
//
// Invariants (after every operation):
//  - the count, the free room, empty and full agree with the queue;
//  - the contiguous spans never reach past the ring's end nor past the
//    stored (read) or free (write) bytes, and the bytes read are the
//    queue's, oldest first;
//  - DispatchRing: the unread count agrees with the queue; its free pieces
//    cover exactly the free room, the first piece ends at the ring's end or
//    at the tail; a device fill in the dispatcher's two pieces stores
//    exactly what it was given; a copy from any unread offset gives the
//    queue's bytes (wrapping once).
#include <cstring>
#include <deque>
#include <string>

#include "comms/dispatch/byte_ring.h"
#include "fuzz_support.h"

namespace {

using qv::fuzz::Input;

void CheckByteRing(const qv::ByteRing& r, const std::deque<uint8_t>& model) {
    auto count = static_cast<int32_t>(model.size());
    QV_FUZZ_CHECK(r.Count() == count, std::to_string(r.Count()) + " vs " + std::to_string(count));
    QV_FUZZ_CHECK(r.Free() == r.Size() - count, "");
    QV_FUZZ_CHECK(r.Empty() == (count == 0), "");
    QV_FUZZ_CHECK(r.Full() == (count == r.Size()), "");
    QV_FUZZ_CHECK(r.ReadSpan() >= (count > 0 ? 1 : 0) && r.ReadSpan() <= count, "");
    QV_FUZZ_CHECK(r.WriteSpan() >= (count < r.Size() ? 1 : 0) && r.WriteSpan() <= r.Size() - count, "");
    for (int32_t i = 0; i < r.ReadSpan(); ++i)
        QV_FUZZ_CHECK(r.ReadPointer()[i] == model[static_cast<size_t>(i)], "read span byte " + std::to_string(i));
    for (int32_t i = 0; i < count; ++i) QV_FUZZ_CHECK(r.PeekAt(i) == model[static_cast<size_t>(i)], "");
}

void ByteRingScript(Input& in) {
    qv::ByteRing r(static_cast<int32_t>(in.Range(1, 300)));
    std::deque<uint8_t> model;
    uint8_t next = 0;
    while (!in.Empty()) {
        uint8_t op = in.Byte();
        auto n = static_cast<int32_t>(in.Range(0, 300));
        switch (op % 4) {
            case 0: {  // produce into the contiguous span
                int32_t k = std::min(n, r.WriteSpan());
                uint8_t* w = r.WritePointer();
                for (int32_t i = 0; i < k; ++i) {
                    w[i] = next;
                    model.push_back(next++);
                }
                r.Produced(k);
                break;
            }
            case 1: {  // consume from the contiguous span
                int32_t k = std::min(n, r.ReadSpan());
                for (int32_t i = 0; i < k; ++i) {
                    QV_FUZZ_CHECK(r.ReadPointer()[i] == model.front(), "");
                    model.pop_front();
                }
                r.Consumed(k);
                break;
            }
            case 2: {  // one byte
                bool stored = r.PutByte(next);
                QV_FUZZ_CHECK(stored == (static_cast<int32_t>(model.size()) < r.Size()), "");
                if (stored) model.push_back(next);
                ++next;
                break;
            }
            case 3:
                if (n % 8 == 0) {
                    r.Clear();
                    model.clear();
                }
                break;
        }
        CheckByteRing(r, model);
    }
}

void CheckDispatchRing(const qv::DispatchRing& r, const std::string& model) {
    auto count = static_cast<int32_t>(model.size());
    QV_FUZZ_CHECK(r.head >= 0 && r.head < qv::kDispatchRingSize && r.tail >= 0 && r.tail < qv::kDispatchRingSize, "");
    QV_FUZZ_CHECK(r.Unread() == count, std::to_string(r.Unread()) + " vs " + std::to_string(count));
    int32_t free = -1, first = -1;
    r.FreePieces(free, first);
    QV_FUZZ_CHECK(free == qv::kDispatchRingSize - count, "");
    QV_FUZZ_CHECK(first >= 0 && first <= free, "");
    QV_FUZZ_CHECK(free == 0 || first > 0, "");
    QV_FUZZ_CHECK(r.head + first <= qv::kDispatchRingSize, "the first free piece passes the ring's end");
    if (first < free) QV_FUZZ_CHECK(r.head + first == qv::kDispatchRingSize, "a second piece follows only the end");
    if (count > 0) {
        // A whole copy, and the copy a handler past `offset` bytes makes.
        std::string all(static_cast<size_t>(count), '\0');
        r.CopyOut(r.tail, reinterpret_cast<uint8_t*>(all.data()), count);
        QV_FUZZ_CHECK(all == model, "");
    }
}

void DispatchRingScript(Input& in) {
    qv::DispatchRing r;
    r.Allocate();
    std::string model;
    uint8_t next = 0;
    while (!in.Empty()) {
        uint8_t op = in.Byte();
        auto n = static_cast<int32_t>(in.Range(0, 3 * qv::kDispatchRingSize / 2));
        switch (op % 4) {
            case 0: {  // the dispatcher's fill: two pieces, the second only after a full first
                if (r.full) break;
                int32_t free, first;
                r.FreePieces(free, first);
                // n: what the device says it holds; it gives at most that.
                free = std::min(free, n);
                const int32_t pieces[2] = {first, first < free ? free - first : 0};
                int32_t device = n;
                for (int32_t piece : pieces) {
                    if (piece <= 0) continue;
                    int32_t k = std::min(piece, device);
                    for (int32_t i = 0; i < k; ++i) {
                        r.data[static_cast<size_t>(r.head + i)] = next;
                        model.push_back(static_cast<char>(next++));
                    }
                    device -= k;
                    r.head = qv::DispatchRing::Wrap(r.head + k);
                    if (k > 0) r.full = r.head == r.tail;
                    if (k < piece) break;
                }
                break;
            }
            case 1: {  // a handler takes n bytes (when stored), possibly after others took some
                auto taken = static_cast<int32_t>(in.Range(0, static_cast<int64_t>(model.size())));
                if (n > static_cast<int32_t>(model.size()) - taken) break;
                std::string out(static_cast<size_t>(n), '\0');
                int32_t start = qv::DispatchRing::Wrap(r.tail + taken);
                r.CopyOut(start, reinterpret_cast<uint8_t*>(out.data()), n);
                QV_FUZZ_CHECK(out == model.substr(size_t(taken), size_t(n)), "copy at offset " + std::to_string(taken));
                if (taken == 0 && n > 0) {
                    r.tail = qv::DispatchRing::Wrap(start + n);
                    r.full = false;
                    model.erase(0, size_t(n));
                }
                break;
            }
            case 2:  // flush
                r.tail = r.head;
                r.full = false;
                model.clear();
                break;
            case 3:  // any position wraps into the ring
                QV_FUZZ_CHECK(qv::DispatchRing::Wrap(n - qv::kDispatchRingSize) ==
                                  ((n % qv::kDispatchRingSize) + qv::kDispatchRingSize) % qv::kDispatchRingSize, "");
                break;
        }
        CheckDispatchRing(r, model);
    }
    r.Free();
    QV_FUZZ_CHECK(!r.Allocated() && r.Unread() == 0, "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    if (in.Byte() & 1) DispatchRingScript(in);
    else ByteRingScript(in);
    return 0;
}
