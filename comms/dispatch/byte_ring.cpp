#include "comms/dispatch/byte_ring.h"

#include <algorithm>
#include <cstring>

namespace qv {

void DispatchRing::Allocate() {
    data = std::make_unique<uint8_t[]>(kDispatchRingSize);
    head = tail = 0;
    full = false;
}

void DispatchRing::Free() {
    data.reset();
    head = tail = 0;
    full = false;
}

int32_t DispatchRing::Unread() const {
    if (head == tail) return full ? kDispatchRingSize : 0;
    if (tail < head) return head - tail;
    return head - tail + kDispatchRingSize;
}

void DispatchRing::FreePieces(int32_t& free, int32_t& first) const {
    if (full) {
        free = first = 0;
    } else if (tail == head) {
        free = kDispatchRingSize;
        first = kDispatchRingSize - head;
    } else if (tail < head) {
        free = tail + kDispatchRingSize - head;
        first = kDispatchRingSize - head;
    } else {
        free = first = tail - head;
    }
}

void DispatchRing::CopyOut(int32_t start, uint8_t* out, int32_t count) const {
    start = Wrap(start);
    int32_t piece = std::min(count, kDispatchRingSize - start);
    std::memcpy(out, data.get() + start, static_cast<size_t>(piece));
    if (count > piece) std::memcpy(out + piece, data.get(), static_cast<size_t>(count - piece));
}

ByteRing::ByteRing(int32_t size) : size_(std::max<int32_t>(size, 1)) {
    data_ = std::make_unique<uint8_t[]>(static_cast<size_t>(size_));
}

int32_t ByteRing::Count() const {
    if (full_) return size_;
    return write_ >= read_ ? write_ - read_ : write_ + size_ - read_;
}

void ByteRing::Clear() {
    read_ = write_ = 0;
    full_ = false;
}

int32_t ByteRing::WriteSpan() const {
    if (full_) return 0;
    return write_ >= read_ ? size_ - write_ : read_ - write_;
}

void ByteRing::Produced(int32_t n) {
    if (n <= 0) return;
    write_ = (write_ + n) % size_;
    if (write_ == read_) full_ = true;
}

bool ByteRing::PutByte(uint8_t b) {
    if (full_) return false;
    data_[write_] = b;
    Produced(1);
    return true;
}

int32_t ByteRing::ReadSpan() const {
    if (Empty()) return 0;
    return read_ < write_ ? write_ - read_ : size_ - read_;
}

void ByteRing::Consumed(int32_t n) {
    if (n <= 0) return;
    read_ = (read_ + n) % size_;
    full_ = false;
}

}  // namespace qv
