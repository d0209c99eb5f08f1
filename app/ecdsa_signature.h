// ECDSA P-256 signatures: the DER form that signing tools write, and the
// 64 bytes r || s that the system's verifier takes. Free of platform calls.
//
//   SEQUENCE { INTEGER r, INTEGER s }     30 len 02 len r... 02 len s...
//
// The reader is strict and bounded: distinguished encoding only (definite
// short lengths, minimal positive integers), nothing after the sequence,
// and r and s from 1 to n-1 (n the order of the curve), so that every
// signature has exactly one accepted form.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// r then s, 32 bytes each, big-endian.
using P256Signature = std::array<uint8_t, 64>;

// The longest DER signature of P-256: 2 + 2 * (2 + 33) bytes.
inline constexpr size_t kP256DerMaxBytes = 72;

// The signature in r || s form, or nothing (with the reason, when asked)
// when the bytes are not exactly one DER signature of P-256.
std::optional<P256Signature> ReadDerSignature(std::string_view der, std::string* reason = nullptr);

// The DER form of r || s; ReadDerSignature reads it back equal when r and
// s lie in 1..n-1.
std::string WriteDerSignature(const P256Signature& signature);

}  // namespace qv
