// Byte strings for the dispatch-layer tests (portable): a list of values,
// a text's bytes, and two joined.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace qv::test {

using Bytes = std::vector<uint8_t>;
inline Bytes B(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<uint8_t>(x));
    return b;
}
inline Bytes S(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace qv::test
