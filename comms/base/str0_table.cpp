#include "comms/base/str0_table.h"

#include <cstring>

namespace qv {

uint32_t Str0Table::ReadU32(size_t at) const {
    uint8_t b[4];
    std::memcpy(b, data_ + at, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

bool Str0Table::HasMagic() const { return size_ >= 4 && std::memcmp(data_, "STR0", 4) == 0; }

Str0Check Str0Table::Check() const {
    if (!HasMagic()) return Str0Check::BadMagic;
    if (size_ < 8) return Str0Check::Truncated;
    uint64_t count = ReadU32(4);
    if (8 + 12 * count > size_) return Str0Check::Truncated;
    for (uint32_t i = 0; i < count; ++i) {
        Str0Entry e = Entry(i);
        uint64_t end = uint64_t(e.offset) + 2 * uint64_t(e.length);
        if (end > size_) return Str0Check::EntryOutOfRange;
    }
    return Str0Check::Ok;
}

uint32_t Str0Table::Count() const { return ReadU32(4); }

Str0Entry Str0Table::Entry(uint32_t index) const {
    size_t at = 8 + 12 * size_t(index);
    return {static_cast<int32_t>(ReadU32(at)), ReadU32(at + 4), ReadU32(at + 8)};
}

std::optional<Str0Entry> Str0Table::Find(int32_t id) const {
    int64_t lo = 0, hi = int64_t(Count()) - 1;
    while (hi >= lo) {
        int64_t mid = (lo + hi) / 2;
        Str0Entry e = Entry(static_cast<uint32_t>(mid));
        if (e.id == id) return e;
        if (e.id < id) lo = mid + 1;
        else hi = mid - 1;
    }
    return std::nullopt;
}

std::u16string Str0Table::Text(const Str0Entry& entry) const {
    std::u16string text(entry.length, u'\0');
    for (uint32_t i = 0; i < entry.length; ++i) {
        size_t at = size_t(entry.offset) + 2 * size_t(i);
        text[i] = static_cast<char16_t>(data_[at] | data_[at + 1] << 8);
    }
    return text;
}

}  // namespace qv
