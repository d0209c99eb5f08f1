// A message table laid out the way tools/make_str0.py lays it out ("STR0",
// the count, the entries of id, offset and length, the UTF-16LE texts back
// to back), from any range of (id, text) pairs, for the reader's tests and
// its fuzz target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::test {

template <class Entries>
std::vector<uint8_t> Str0TableBytes(const Entries& entries) {
    std::vector<uint8_t> t = {'S', 'T', 'R', '0'};
    auto put = [&t](uint32_t v) {
        for (int i = 0; i < 4; ++i) t.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(static_cast<uint32_t>(entries.size()));
    uint32_t offset = 8 + 12 * static_cast<uint32_t>(entries.size());
    for (const auto& [id, text] : entries) {
        put(static_cast<uint32_t>(id));
        put(offset);
        put(static_cast<uint32_t>(text.size()));
        offset += 2 * static_cast<uint32_t>(text.size());
    }
    for (const auto& [id, text] : entries)
        for (char16_t c : text) {
            t.push_back(static_cast<uint8_t>(c));
            t.push_back(static_cast<uint8_t>(c >> 8));
        }
    return t;
}

}  // namespace qv::test
