// The DER reader and writer of ECDSA P-256 signatures.
//
// Invariants, for any bytes:
//  - an accepted signature is at most 72 bytes, its r and s lie in 1..n-1,
//    and writing them gives back exactly the bytes read: the reader takes
//    one form per signature, the distinguished one;
//  - the first 64 bytes taken as r || s are written and read back equal
//    when both lie in 1..n-1, and are refused when either does not.
#include <algorithm>
#include <array>
#include <string>

#include "app/ecdsa_signature.h"
#include "fuzz_support.h"

namespace {

using qv::fuzz::Show;

constexpr std::array<uint8_t, 32> kOrder = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
                                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17,
                                            0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

// 1 <= value <= n - 1, by subtraction from the top byte down.
bool InRange(const uint8_t* value) {
    if (std::all_of(value, value + 32, [](uint8_t b) { return b == 0; })) return false;
    for (size_t i = 0; i < 32; ++i) {
        if (value[i] != kOrder[i]) return value[i] < kOrder[i];
    }
    return false;  // equal to n
}

std::string Of(const qv::P256Signature& rs) { return std::string(rs.begin(), rs.end()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string reason;
    std::optional<qv::P256Signature> rs = qv::ReadDerSignature(input, &reason);
    if (rs) {
        QV_FUZZ_CHECK(input.size() <= qv::kP256DerMaxBytes, Show(input));
        QV_FUZZ_CHECK(InRange(rs->data()) && InRange(rs->data() + 32), Show(input));
        QV_FUZZ_CHECK(qv::WriteDerSignature(*rs) == input, Show(input) + " written " + Show(qv::WriteDerSignature(*rs)));
    } else {
        QV_FUZZ_CHECK(!reason.empty(), Show(input));
    }

    if (input.size() >= 64) {
        qv::P256Signature raw{};
        std::copy(input.begin(), input.begin() + 64, raw.begin());
        const std::string der = qv::WriteDerSignature(raw);
        QV_FUZZ_CHECK(der.size() <= qv::kP256DerMaxBytes, Show(Of(raw)));
        std::optional<qv::P256Signature> back = qv::ReadDerSignature(der);
        if (InRange(raw.data()) && InRange(raw.data() + 32)) {
            QV_FUZZ_CHECK(back && *back == raw, Show(Of(raw)) + " as " + Show(der));
        } else {
            QV_FUZZ_CHECK(!back, Show(Of(raw)) + " out of range, read from " + Show(der));
        }
    }
    return 0;
}
