// Integer texts: TryStrToInt / StrToInt (form resource values, character
// sets and positions of the translation component) and the integer
// literals of the form resource reader.
//
// Invariants:
//  - TryStrToInt accepts exactly: leading blanks, an optional sign, then
//    decimal digits, or hexadecimal digits after "$", "0x" or "0X", and
//    nothing else; a decimal must fit 32 signed bits (down to -2147483648),
//    a hexadecimal text is a 32-bit pattern (negated as a pattern with a
//    minus sign); the value is the model's;
//  - StrToInt gives the same value or raises EConvertError naming the text;
//  - every 32-bit value comes back from its decimal text, from its "$" and
//    "0x" hexadecimal patterns, and from those with leading blanks;
//  - a form literal is read as the model reads it, or refused with the
//    form error; never anything else.
#include <cstdio>
#include <string>

#include "framework/exception.h"
#include "framework/form_reader.h"
#include "framework/text.h"
#include "fuzz_support.h"

namespace {

using qv::fuzz::Input;
using qv::fuzz::Show;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<int32_t> ModelStrToInt(std::string_view s) {
    size_t i = s.find_first_not_of(' ');
    if (i == std::string_view::npos) return std::nullopt;
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
    int base = 10;
    if (s.substr(i, 1) == "$") {
        base = 16;
        i += 1;
    } else if (s.substr(i, 2) == "0x" || s.substr(i, 2) == "0X") {
        base = 16;
        i += 2;
    }
    std::string_view digits = s.substr(std::min(i, s.size()));
    if (digits.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char c : digits) {
        int d = HexValue(c);
        if (d < 0 || d >= base) return std::nullopt;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    if (base == 16) {
        auto bits = static_cast<uint32_t>(v);
        return static_cast<int32_t>(negative ? 0u - bits : bits);
    }
    if (v > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
    return static_cast<int32_t>(negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v));
}

std::string Show(std::optional<int32_t> v) { return v ? std::to_string(*v) : "none"; }

void CheckText(const std::string& text) {
    std::optional<int32_t> got = qv::TryStrToInt(text);
    std::optional<int32_t> want = ModelStrToInt(text);
    QV_FUZZ_CHECK(got == want, Show(text) + " gave " + Show(got) + ", not " + Show(want));
    try {
        int32_t v = qv::StrToInt(text);
        QV_FUZZ_CHECK(got && v == *got, Show(text));
    } catch (const qv::EConvertError& e) {
        QV_FUZZ_CHECK(!got, Show(text));
        QV_FUZZ_CHECK(e.Message() == "'" + text + "' is not a valid integer value", e.Message());
    }
}

void RoundTrips(int32_t v, int blanks) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(v));
    const std::string lead(static_cast<size_t>(blanks), ' ');
    for (const std::string& text : {qv::IntToStr(v), "$" + std::string(hex), "0x" + std::string(hex)}) {
        QV_FUZZ_CHECK(qv::TryStrToInt(lead + text) == v, Show(lead + text));
        CheckText(lead + text);
        // The negated pattern: what "-" before the text gives.
        CheckText("-" + text);
    }
}

// A form literal: sign and identifier characters, as the reader takes them.
std::optional<int64_t> ModelFormNumber(std::string_view lit) {
    bool negative = !lit.empty() && lit[0] == '-';
    std::string_view digits = lit.substr(!lit.empty() && (lit[0] == '-' || lit[0] == '+') ? 1 : 0);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char c : digits) {
        int d = HexValue(c);
        if (d < 0 || d >= base) return std::nullopt;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    if (base == 10 && v > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
    int64_t value = base == 16 ? static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v)))
                               : static_cast<int64_t>(v);
    return negative ? -value : value;
}

void FormLiteral(const std::string& raw) {
    // Only what the reader takes into a number: a first character of
    // digit or sign, then letters, digits and underscores.
    std::string lit;
    for (char c : raw)
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') lit += c;
    char first = raw.empty() ? '0' : raw[0];
    lit.insert(0, 1, first == '-' || first == '+' ? first : static_cast<char>('0' + (uint8_t(first) % 10)));
    std::optional<int64_t> want = ModelFormNumber(lit);
    try {
        qv::FormObject form = qv::ParseForm("Form F {\n  N = " + lit + "\n}\n", "fuzz");
        QV_FUZZ_CHECK(want.has_value(), lit + " was read");
        QV_FUZZ_CHECK(form.properties.size() == 1 && form.properties[0].value.kind == qv::FormValue::Kind::Integer,
                      lit);
        QV_FUZZ_CHECK(form.properties[0].value.number == *want, lit);
    } catch (const qv::EFormError& e) {
        QV_FUZZ_CHECK(!want.has_value(), lit + " refused: " + e.Message());
        QV_FUZZ_CHECK(e.Line() == 2, e.Message());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    switch (in.Byte() % 3) {
        case 0: CheckText(in.Rest()); break;
        case 1: {
            int blanks = in.Byte() % 4;
            RoundTrips(static_cast<int32_t>(in.U32()), blanks);
            break;
        }
        case 2: FormLiteral(in.Rest()); break;
    }
    return 0;
}
