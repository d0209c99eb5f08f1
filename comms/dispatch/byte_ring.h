// Byte rings of the dispatch layer (platform-free).
//
// DispatchRing is the dispatcher's fixed 8192-byte ring: the device stores
// at `head`, handlers take from `tail`; head = tail means empty unless `full`.
// ByteRing is the general ring of a connection (input and output): bytes
// are produced at the write position and consumed at the read position, in
// at most two contiguous pieces each.
#pragma once

#include <cstdint>
#include <memory>

namespace qv {

inline constexpr int32_t kDispatchRingSize = 8192;

struct DispatchRing {
    std::unique_ptr<uint8_t[]> data;  // none until the device is opened
    int32_t head = 0;                 // where the next device byte is stored
    int32_t tail = 0;                 // first unread byte
    bool full = false;

    bool Allocated() const { return data != nullptr; }
    void Allocate();
    void Free();

    static int32_t Wrap(int32_t position) {
        return ((position % kDispatchRingSize) + kDispatchRingSize) % kDispatchRingSize;
    }
    // Bytes stored and not yet taken.
    int32_t Unread() const;
    // The space the device may fill next: the whole free space and its
    // first contiguous piece (from head to the end of the ring or to tail).
    void FreePieces(int32_t& free, int32_t& first) const;
    // Copies count bytes from position start (wrapping once) into out. The
    // caller has checked that count does not exceed the ring size.
    void CopyOut(int32_t start, uint8_t* out, int32_t count) const;
};

class ByteRing {
public:
    explicit ByteRing(int32_t size);
    ByteRing(const ByteRing&) = delete;
    ByteRing& operator=(const ByteRing&) = delete;

    int32_t Size() const { return size_; }
    int32_t Count() const;
    int32_t Free() const { return size_ - Count(); }
    bool Full() const { return full_; }
    bool Empty() const { return !full_ && read_ == write_; }
    void Clear();

    // Contiguous free room at the write position.
    uint8_t* WritePointer() { return data_.get() + write_; }
    int32_t WriteSpan() const;
    void Produced(int32_t n);
    bool PutByte(uint8_t b);

    // Contiguous stored bytes at the read position.
    const uint8_t* ReadPointer() const { return data_.get() + read_; }
    int32_t ReadSpan() const;
    void Consumed(int32_t n);
    // The stored byte `offset` places after the read position.
    uint8_t PeekAt(int32_t offset) const { return data_[(read_ + offset) % size_]; }

private:
    std::unique_ptr<uint8_t[]> data_;
    int32_t size_;
    int32_t read_ = 0;
    int32_t write_ = 0;
    bool full_ = false;
};

}  // namespace qv
