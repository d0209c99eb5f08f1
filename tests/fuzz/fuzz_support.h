// What every fuzz target shares: reading choices out of the fuzzer's bytes,
// and the invariant check that stops the run with a message (an abort is a
// finding for the fuzzer and a failure for the corpus replay).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace qv::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
    std::abort();
}

// Printable form of bytes for the failure messages.
inline std::string Show(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127 && c != '\\' && c != '"') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out + "\"";
}

// The fuzzer's bytes as a sequence of choices. Past the end every choice is
// zero and every byte run empty, so a target never reads outside its input.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Remaining() const { return size_ - at_; }
    bool Empty() const { return at_ >= size_; }

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool Bool() { return Byte() & 1; }
    // Low byte first, in every compiler's build (the two reads of one
    // expression would be unsequenced, and an input read differently by the
    // replay than by the fuzzer would not reproduce its finding).
    uint16_t U16() {
        uint16_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
    uint32_t U32() {
        uint32_t low = U16();
        return low | uint32_t(U16()) << 16;
    }
    // A value in [low, high] (both included); high >= low.
    int64_t Range(int64_t low, int64_t high) {
        uint64_t span = static_cast<uint64_t>(high - low) + 1;
        uint64_t raw = span <= 0x100 ? Byte() : span <= 0x10000 ? U16() : U32();
        return low + static_cast<int64_t>(raw % span);
    }
    // Up to n bytes as they come.
    std::string Bytes(size_t n) {
        n = n < Remaining() ? n : Remaining();
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return s;
    }
    // A run of bytes whose length comes first (one byte: 0..255).
    std::string Text() { return Bytes(Byte()); }
    std::string Rest() { return Bytes(Remaining()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace qv::fuzz

#define QV_FUZZ_CHECK(condition, detail)                                                         \
    do {                                                                                         \
        if (!(condition)) ::qv::fuzz::Fail(__FILE__, __LINE__, #condition, std::string(detail)); \
    } while (0)
