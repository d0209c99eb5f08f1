// Small text helpers with the runtime's rules (ASCII case folding, blanks and
// control characters trimmed, integers in decimal or hexadecimal).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Removes characters up to and including the blank (codes 0..32) at both ends.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII-only case folding: bytes of a multi-byte code page pass unchanged.
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);

// Integer text: optional leading blanks, optional sign, then decimal digits
// or hexadecimal digits after "$", "0x" or "0X". Nothing may follow.
// Empty optional when the text is not such a number or does not fit 32 bits.
std::optional<int32_t> TryStrToInt(std::string_view s);
// Like TryStrToInt, raising EConvertError ("'x' is not a valid integer value").
int32_t StrToInt(std::string_view s);

std::string IntToStr(int64_t value);

// printf-style formatting into a std::string.
std::string Sprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Splits at every occurrence of the separator character (empty items kept).
std::vector<std::string> Split(std::string_view s, char separator);
std::string Join(const std::vector<std::string>& items, std::string_view separator);

// The file-name part of a path (after the last '\\', '/' or ':').
std::string ExtractFileName(std::string_view path);

}  // namespace qv
