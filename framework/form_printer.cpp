#include "framework/form_printer.h"

#include <cstdint>

namespace qv {

namespace {

bool IsTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFE); }

std::string Quoted(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\r': out += "\\r"; continue;
            case '\n': out += "\\n"; continue;
            case '\t': out += "\\t"; continue;
            default: break;
        }
        // A lead byte with its trail byte stays one character; the reader
        // takes the byte after a lead byte along whatever it is, so a lead
        // byte without a proper trail byte is escaped.
        if (c >= 0x81 && c <= 0xFE && i + 1 < text.size() && IsTrailByte(static_cast<unsigned char>(text[i + 1]))) {
            out += text.substr(i, 2);
            ++i;
        } else if (c < 0x20 || c >= 0x7F) {
            out += {'\\', 'x', digits[c >> 4], digits[c & 15]};
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Integers as the reader gives them: 32-bit values, and 2147483648 that
// only "-0x80000000" spells.
std::string Number(int64_t n) {
    if (n == int64_t{INT32_MAX} + 1) return "-0x80000000";
    return std::to_string(n);
}

std::string Value(const FormValue& v) {
    switch (v.kind) {
        case FormValue::Kind::String: return Quoted(v.text);
        case FormValue::Kind::Integer: return Number(v.number);
        case FormValue::Kind::Ident: return v.text;
        case FormValue::Kind::List: {
            std::string out = "[";
            for (size_t i = 0; i < v.items.size(); ++i) out += (i ? ", " : "") + Value(v.items[i]);
            return out + "]";
        }
    }
    return {};
}

void PrintProperty(std::string& out, const FormProperty& p, const std::string& indent) {
    if (!p.isObject) {
        out += indent + p.name + " = " + Value(p.value) + "\n";
        return;
    }
    out += indent + p.name + " {\n";
    for (const FormProperty& m : p.members) PrintProperty(out, m, indent + "  ");
    out += indent + "}\n";
}

void PrintObject(std::string& out, const FormObject& o, const std::string& indent) {
    out += indent + o.className + " " + o.name + " {\n";
    for (const FormProperty& p : o.properties) PrintProperty(out, p, indent + "  ");
    for (const FormObject& c : o.children) PrintObject(out, c, indent + "  ");
    out += indent + "}\n";
}

bool SameValue(const FormValue& a, const FormValue& b) {
    if (a.kind != b.kind || a.text != b.text || a.number != b.number || a.items.size() != b.items.size()) return false;
    for (size_t i = 0; i < a.items.size(); ++i)
        if (!SameValue(a.items[i], b.items[i])) return false;
    return true;
}

bool SameProperty(const FormProperty& a, const FormProperty& b) {
    if (a.name != b.name || a.isObject != b.isObject || a.members.size() != b.members.size()) return false;
    if (!a.isObject && !SameValue(a.value, b.value)) return false;
    for (size_t i = 0; i < a.members.size(); ++i)
        if (!SameProperty(a.members[i], b.members[i])) return false;
    return true;
}

}  // namespace

bool SameFormTree(const FormObject& a, const FormObject& b) {
    if (a.className != b.className || a.name != b.name || a.properties.size() != b.properties.size() ||
        a.children.size() != b.children.size())
        return false;
    for (size_t i = 0; i < a.properties.size(); ++i)
        if (!SameProperty(a.properties[i], b.properties[i])) return false;
    for (size_t i = 0; i < a.children.size(); ++i)
        if (!SameFormTree(a.children[i], b.children[i])) return false;
    return true;
}

std::string PrintForm(const FormObject& form) {
    std::string out;
    PrintObject(out, form, "");
    return out;
}

}  // namespace qv
