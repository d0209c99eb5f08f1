#include "app/ecdsa_signature.h"

#include <algorithm>

namespace qv {

namespace {

// The order n of the P-256 group, big-endian.
constexpr std::array<uint8_t, 32> kP256Order = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kInteger = 0x02;

bool Fail(std::string* reason, const char* why) {
    if (reason) *reason = why;
    return false;
}

// Reads one INTEGER at `at` into 32 big-endian bytes; moves `at` past it.
bool ReadInteger(std::string_view der, size_t& at, uint8_t* out, std::string* reason) {
    if (der.size() - at < 2) return Fail(reason, "an integer is cut short");
    if (static_cast<uint8_t>(der[at]) != kInteger) return Fail(reason, "an INTEGER is expected");
    const size_t length = static_cast<uint8_t>(der[at + 1]);
    at += 2;
    // A value of P-256 has at most 32 bytes, plus a zero byte that keeps
    // a leading high bit from reading as a sign.
    if (length == 0) return Fail(reason, "an integer without bytes");
    if (length > 33) return Fail(reason, "an integer longer than P-256 allows");
    if (der.size() - at < length) return Fail(reason, "an integer is cut short");
    std::string_view value = der.substr(at, length);
    at += length;
    const uint8_t first = static_cast<uint8_t>(value[0]);
    if (first & 0x80) return Fail(reason, "a negative integer");
    if (first == 0 && length > 1 && !(static_cast<uint8_t>(value[1]) & 0x80))
        return Fail(reason, "an integer with a needless leading zero");
    if (first == 0) value.remove_prefix(1);
    if (value.size() > 32) return Fail(reason, "an integer longer than P-256 allows");
    std::fill(out, out + 32, 0);
    std::copy(value.begin(), value.end(), out + (32 - value.size()));
    if (std::all_of(out, out + 32, [](uint8_t b) { return b == 0; })) return Fail(reason, "an integer of zero");
    if (!std::lexicographical_compare(out, out + 32, kP256Order.begin(), kP256Order.end()))
        return Fail(reason, "an integer not below the order of the curve");
    return true;
}

void WriteInteger(std::string& der, const uint8_t* value) {
    size_t skip = 0;
    while (skip < 31 && value[skip] == 0) ++skip;
    const bool pad = value[skip] & 0x80;
    der += static_cast<char>(kInteger);
    der += static_cast<char>(32 - skip + (pad ? 1 : 0));
    if (pad) der += '\0';
    der.append(reinterpret_cast<const char*>(value + skip), 32 - skip);
}

}  // namespace

std::optional<P256Signature> ReadDerSignature(std::string_view der, std::string* reason) {
    if (der.size() > kP256DerMaxBytes) {
        Fail(reason, "longer than a P-256 signature");
        return std::nullopt;
    }
    if (der.size() < 2 || static_cast<uint8_t>(der[0]) != kSequence) {
        Fail(reason, "not a DER sequence");
        return std::nullopt;
    }
    // Short definite length only: a sequence of two P-256 integers is
    // never 128 bytes or more, and DER writes shorter lengths short.
    const size_t length = static_cast<uint8_t>(der[1]);
    if (length & 0x80) {
        Fail(reason, "a sequence length not in short form");
        return std::nullopt;
    }
    if (length != der.size() - 2) {
        Fail(reason, length > der.size() - 2 ? "the sequence is cut short" : "bytes after the sequence");
        return std::nullopt;
    }
    P256Signature signature{};
    size_t at = 2;
    if (!ReadInteger(der, at, signature.data(), reason) || !ReadInteger(der, at, signature.data() + 32, reason))
        return std::nullopt;
    if (at != der.size()) {
        Fail(reason, "bytes after the two integers");
        return std::nullopt;
    }
    return signature;
}

std::string WriteDerSignature(const P256Signature& signature) {
    std::string body;
    WriteInteger(body, signature.data());
    WriteInteger(body, signature.data() + 32);
    std::string der;
    der += static_cast<char>(kSequence);
    der += static_cast<char>(body.size());
    return der + body;
}

}  // namespace qv
