// Read-only view of an "STR0" message table (little-endian):
//   "STR0", entry count N, N records {id: int32, offset: uint32 (from the start
//   of the table), length: uint32 (UTF-16 code units)}, then the texts.
// Nothing here trusts the table: Check() refuses a truncated table, a wrong
// magic and entries whose texts lie outside it, and the accessors never read
// outside the bytes they were given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qv {

struct Str0Entry {
    int32_t id;
    uint32_t offset;  // bytes from the start of the table
    uint32_t length;  // UTF-16 code units
};

enum class Str0Check {
    Ok,
    BadMagic,         // shorter than 4 bytes or not "STR0"
    Truncated,        // no count, or the entry table runs past the end
    EntryOutOfRange,  // an entry's text lies (partly) outside the table
};

class Str0Table {
public:
    Str0Table(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}

    // Validates the whole table; the accessors below assume it returned Ok.
    Str0Check Check() const;
    bool HasMagic() const;

    uint32_t Count() const;
    Str0Entry Entry(uint32_t index) const;
    // Binary search over the entries sorted by signed id.
    std::optional<Str0Entry> Find(int32_t id) const;
    std::u16string Text(const Str0Entry& entry) const;

private:
    uint32_t ReadU32(size_t at) const;

    const uint8_t* data_;
    size_t size_;
};

}  // namespace qv
