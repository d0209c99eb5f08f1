// The dispatcher's two diagnostic recorders and their dump text
// (platform-free): the trace (two-byte entries: a direction kind and a data
// byte) and the dispatch log (time-stamped records with data). The texts of
// the log's names come from a lookup function (the message table on
// Windows), so the formatting runs and is tested anywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qv {

// ---- trace -------------------------------------------------------------

inline constexpr int32_t kMaxTraceCapacity = 4000000;
inline constexpr uint8_t kTraceReceive = 'R';
inline constexpr uint8_t kTraceTransmit = 'T';

class TraceRing {
public:
    // capacity entries, 1 to kMaxTraceCapacity; zero-filled.
    explicit TraceRing(int32_t capacity);

    void Add(uint8_t kind, uint8_t byte);
    void Clear();
    bool Empty() const { return index_ == 0 && !wrapped_; }
    int32_t Capacity() const { return capacity_; }
    int32_t Index() const { return index_; }
    bool Wrapped() const { return wrapped_; }

    // The dump text: one heading line per run of one kind, data lines of at
    // most 78 characters, a blank line between runs, no line end after the
    // last byte. Empty text for an empty trace.
    std::string Format(bool hex, bool allHex) const;

private:
    int32_t capacity_;
    std::unique_ptr<uint8_t[]> ring_;
    int32_t index_ = 0;
    bool wrapped_ = false;
};

// One data byte as the trace and the log write it: "[HH]" in all-hex mode,
// the character itself when printable (33..126 with hex, 32..126 without),
// otherwise "[HH]" (hex) or "[decimal]".
std::string DumpItem(uint8_t b, bool hex, bool allHex);

// ---- dispatch log ------------------------------------------------------

inline constexpr int32_t kLogHeaderSize = 16;

struct LogRecordHeader {
    uint8_t type = 0;
    uint8_t subtype = 0;
    uint32_t time = 0;   // milliseconds since the device was opened
    int32_t value = 0;
    int32_t length = 0;  // data bytes after the header
};

class LogRing {
public:
    // capacity bytes of records; record data is limited to readBackSize
    // bytes (longer data is cut to that length).
    LogRing(int32_t capacity, int32_t readBackSize);

    // Stores one record, dropping the oldest whole records until it fits.
    // A record (header and data) of capacity bytes or more is not stored.
    bool Add(uint8_t type, uint8_t subtype, uint32_t time, int32_t value, const void* data, int32_t length);
    // Removes the oldest record; false when the log is empty.
    bool Take(LogRecordHeader& header, std::vector<uint8_t>& data);
    void Clear();
    bool Empty() const { return free_ == capacity_; }
    int32_t Capacity() const { return capacity_; }
    int32_t FreeBytes() const { return free_; }
    int32_t ReadBackSize() const { return readBackSize_; }

private:
    void Put(const uint8_t* bytes, int32_t n);
    void Get(uint8_t* bytes, int32_t n);

    int32_t capacity_;
    int32_t readBackSize_;
    std::unique_ptr<uint8_t[]> ring_;
    int32_t head_ = 0;
    int32_t tail_ = 0;
    int32_t free_;
};

// Message text of a table id (log vocabulary 15001.., 15101.., 15501..).
using LogTextLookup = std::function<std::string(int32_t id)>;

// The five header lines, each ending in CR LF. The operating-system line is
// cut to 79 characters.
std::string FormatLogHeader(const std::string& compiler, const std::string& system, const LogTextLookup& texts);
// One record as one or more lines, ending in CR LF.
std::string FormatLogRecord(const LogRecordHeader& header, const uint8_t* data, bool hex, bool allHex,
                            const LogTextLookup& texts);
// Time column text: 12345 ms becomes "0012.345".
std::string FormatLogTime(uint32_t milliseconds);

}  // namespace qv
