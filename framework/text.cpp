#include "framework/text.h"

#include <cstdarg>
#include <cstdio>

#include "framework/exception.h"

namespace qv {

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
}  // namespace

std::string TrimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1])) --e;
    return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) { return TrimLeft(TrimRight(s)); }

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = Lower(c);
    return r;
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = Upper(c);
    return r;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::optional<int32_t> TryStrToInt(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * base + digit;
        // Hexadecimal texts may spell the full 32-bit pattern (e.g. $FFFFFFFF).
        if (value > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return std::nullopt;
    }
    if (base == 16) {
        // The 32-bit pattern, negated as a pattern: "-$80000000" is the
        // lowest value, not an overflow.
        auto bits = static_cast<uint32_t>(value);
        return static_cast<int32_t>(negative ? 0u - bits : bits);
    }
    if (negative) return static_cast<int32_t>(-value);
    if (value > 0x7FFFFFFFLL) return std::nullopt;
    return static_cast<int32_t>(value);
}

int32_t StrToInt(std::string_view s) {
    auto v = TryStrToInt(s);
    if (!v) throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
    return *v;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string Sprintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

std::vector<std::string> Split(std::string_view s, char separator) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(separator, start);
        if (p == std::string_view::npos) {
            items.emplace_back(s.substr(start));
            return items;
        }
        items.emplace_back(s.substr(start, p - start));
        start = p + 1;
    }
}

std::string Join(const std::vector<std::string>& items, std::string_view separator) {
    std::string r;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) r += separator;
        r += items[i];
    }
    return r;
}

std::string ExtractFileName(std::string_view path) {
    size_t p = path.find_last_of("\\/:");
    return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

}  // namespace qv
