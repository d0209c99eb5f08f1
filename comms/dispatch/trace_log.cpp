#include "comms/dispatch/trace_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qv {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kMaxLine = 78;

std::string Hex2(uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return {'[', digits[b >> 4], digits[b & 15], ']'};
}

std::string TrimBlanks(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(' ');
    return s.substr(a, b - a + 1);
}

}  // namespace

std::string DumpItem(uint8_t b, bool hex, bool allHex) {
    if (allHex) return Hex2(b);
    if (b >= (hex ? 33 : 32) && b <= 126) return std::string(1, static_cast<char>(b));
    if (hex) return Hex2(b);
    return "[" + std::to_string(b) + "]";
}

// ---- trace -------------------------------------------------------------

TraceRing::TraceRing(int32_t capacity) : capacity_(std::clamp(capacity, 1, kMaxTraceCapacity)) {
    ring_ = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity_) * 2);  // value-initialised: zeros
}

void TraceRing::Add(uint8_t kind, uint8_t byte) {
    ring_[static_cast<size_t>(index_) * 2] = kind;
    ring_[static_cast<size_t>(index_) * 2 + 1] = byte;
    if (++index_ >= capacity_) {
        index_ = 0;
        wrapped_ = true;
    }
}

void TraceRing::Clear() {
    index_ = 0;
    wrapped_ = false;
}

std::string TraceRing::Format(bool hex, bool allHex) const {
    std::string out;
    if (Empty()) return out;
    int32_t first = wrapped_ ? index_ : 0;
    int32_t count = wrapped_ ? capacity_ : index_;
    uint8_t previous = 0;
    int column = 0;
    for (int32_t n = 0; n < count; ++n) {
        size_t at = static_cast<size_t>((first + n) % capacity_) * 2;
        uint8_t kind = ring_[at], b = ring_[at + 1];
        if (kind != previous) {
            if (n != 0) {
                out += kCrLf;
                out += kCrLf;
            }
            column = 0;
            if (kind == kTraceReceive) out += "Receive: ";
            else if (kind == kTraceTransmit) out += "Transmit: ";
            else out += std::string("Special-") + static_cast<char>(kind) + ": ";
            out += kCrLf;
            previous = kind;
        }
        std::string item = DumpItem(b, hex, allHex);
        int w = static_cast<int>(item.size());
        column += w;
        if (column > kMaxLine) {
            out += kCrLf;
            column = w;
        }
        out += item;
    }
    return out;
}

// ---- dispatch log ------------------------------------------------------

LogRing::LogRing(int32_t capacity, int32_t readBackSize)
    : capacity_(std::max(capacity, 1)), readBackSize_(std::max(readBackSize, 0)), free_(capacity_) {
    ring_ = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity_));
}

void LogRing::Clear() {
    head_ = tail_ = 0;
    free_ = capacity_;
}

void LogRing::Put(const uint8_t* bytes, int32_t n) {
    int32_t piece = std::min(n, capacity_ - head_);
    std::memcpy(ring_.get() + head_, bytes, static_cast<size_t>(piece));
    if (n > piece) std::memcpy(ring_.get(), bytes + piece, static_cast<size_t>(n - piece));
    head_ = (head_ + n) % capacity_;
    free_ -= n;
}

void LogRing::Get(uint8_t* bytes, int32_t n) {
    int32_t piece = std::min(n, capacity_ - tail_);
    if (bytes) {
        std::memcpy(bytes, ring_.get() + tail_, static_cast<size_t>(piece));
        if (n > piece) std::memcpy(bytes + piece, ring_.get(), static_cast<size_t>(n - piece));
    }
    tail_ = (tail_ + n) % capacity_;
    free_ += n;
}

bool LogRing::Add(uint8_t type, uint8_t subtype, uint32_t time, int32_t value, const void* data, int32_t length) {
    if (length < 0 || !data) length = 0;
    length = std::min(length, readBackSize_);
    int64_t n = int64_t(kLogHeaderSize) + length;
    if (n >= capacity_) return false;
    LogRecordHeader dropped;
    std::vector<uint8_t> scratch;
    while (n > free_ && Take(dropped, scratch)) {
    }
    uint8_t header[kLogHeaderSize] = {};
    header[0] = type;
    header[1] = subtype;
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<uint8_t>(time >> (8 * i));
        header[8 + i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
        header[12 + i] = static_cast<uint8_t>(static_cast<uint32_t>(length) >> (8 * i));
    }
    Put(header, kLogHeaderSize);
    if (length > 0) Put(static_cast<const uint8_t*>(data), length);
    return true;
}

bool LogRing::Take(LogRecordHeader& header, std::vector<uint8_t>& data) {
    if (Empty()) return false;
    uint8_t h[kLogHeaderSize];
    Get(h, kLogHeaderSize);
    auto u32 = [&](int at) {
        return uint32_t(h[at]) | uint32_t(h[at + 1]) << 8 | uint32_t(h[at + 2]) << 16 | uint32_t(h[at + 3]) << 24;
    };
    header.type = h[0];
    header.subtype = h[1];
    header.time = u32(4);
    header.value = static_cast<int32_t>(u32(8));
    header.length = static_cast<int32_t>(u32(12));
    // Records are written whole and never longer than the read-back size;
    // the clamp keeps a reader inside the ring whatever it holds.
    header.length = std::clamp(header.length, 0, std::min(readBackSize_, capacity_ - free_));
    data.resize(static_cast<size_t>(header.length));
    Get(data.data(), header.length);
    return true;
}

// ---- dump text ---------------------------------------------------------

std::string FormatLogTime(uint32_t milliseconds) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%07u", static_cast<unsigned>(milliseconds));
    std::string s = digits;
    s.insert(4, ".");
    return s;
}

std::string FormatLogHeader(const std::string& compiler, const std::string& system, const LogTextLookup& texts) {
    std::string out = "COMMS v3.04";
    out += kCrLf;
    out += "Compiler : " + compiler + kCrLf;
    std::string line = "Operating System : " + system;
    if (line.size() > 80) line.resize(80);
    out += line + kCrLf;
    out += texts(15501) + kCrLf;
    out += texts(15502) + kCrLf;
    return out;
}

std::string FormatLogRecord(const LogRecordHeader& header, const uint8_t* data, bool hex, bool allHex,
                            const LogTextLookup& texts) {
    std::string typeName = texts(15001 + header.type);
    std::string subName = header.subtype == 0 ? std::string() : texts(15100 + header.subtype);
    std::string time = FormatLogTime(header.time);
    std::vector<char> buffer(64 + typeName.size() + subName.size());
    std::snprintf(buffer.data(), buffer.size(), "%8s  %-8s  %-12s  %08X  ", time.c_str(), typeName.c_str(),
                  subName.c_str(), static_cast<unsigned>(header.value));
    std::string out = buffer.data();
    if (header.length <= 0) {
        if (header.type == 10) {
            uint32_t option = static_cast<uint32_t>(header.value);
            out += "[" + (option <= 42 ? texts(15700 + static_cast<int32_t>(option)) : std::string()) + "]";
        }
        return out + kCrLf;
    }
    if ((header.type == 5 || header.type == 6) && header.subtype == 15) {
        static const char* const kinds[] = {"(Not active)",        "(Modem status)",       "(Line status)",
                                            "(Output buffer free)", "(Output buffer used)", "(Output sent)"};
        if (data[0] <= 5) out += kinds[data[0]];
    } else {
        int column = 45;
        for (int32_t i = 0; i < header.length; ++i) {
            std::string item = (allHex && header.type == 19) ? std::string(1, static_cast<char>(data[i]))
                                                              : DumpItem(data[i], hex, allHex);
            int w = static_cast<int>(item.size());
            column += w;
            if (column > kMaxLine) {
                out += kCrLf;
                out += std::string(44, ' ');
                column = w + 45;
            }
            out += item;
        }
    }
    if (header.subtype == 4) {
        std::string bits;
        for (int bit = 0; bit < 8; ++bit)
            if (header.value & (1 << bit)) bits += texts(15601 + bit);
        out += "(" + TrimBlanks(bits) + ")";
    }
    return out + kCrLf;
}

}  // namespace qv
