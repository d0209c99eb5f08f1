// The names an upgrade run takes from the server's listing.
//
// Invariants:
//  - the names kept are exactly the listing's lines, trimmed of blanks,
//    tabs, CR and LF, that a plain model accepts, in listing order;
//  - no kept name leaves the installation folder as Windows resolves it
//    (separators "\" and "/", "." and ".." parts, a rooted name, a drive or
//    stream colon, and the text as far as a file API reads it: up to a zero
//    byte);
//  - no part of a kept name (any folder or the file) is a device: CON, PRN,
//    AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, in any case, with any
//    extension or blanks before it;
//  - no kept name is one Windows would change: no part (split as Windows
//    splits Big5 text) ends in a dot or a blank, and every first byte of a
//    Big5 character has its second byte;
//  - no two kept names are one file on Windows (the same key), and every
//    name the model keeps but the filter leaves out is named as a duplicate
//    of an earlier kept one, in listing order.
//
// Code page 950 names may hold the byte "\" as the second byte of a
// character; taking every such byte for a separator sees more parts than
// Windows does, never fewer, so the model's view is the stricter one.
#include <set>
#include <string>
#include <vector>

#include "app/upgrade_names.h"
#include "fuzz_support.h"

namespace {

using qv::fuzz::Input;
using qv::fuzz::Show;

bool IsListingBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string ModelTrim(const std::string& line) {
    size_t a = 0, b = line.size();
    while (a < b && IsListingBlank(line[a])) ++a;
    while (b > a && IsListingBlank(line[b - 1])) --b;
    return line.substr(a, b - a);
}

std::vector<std::string> Parts(std::string_view name) {
    std::vector<std::string> parts(1);
    for (char c : name) {
        if (c == '\\' || c == '/') parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

// Where the name leads from the installation folder: false when it leaves.
bool StaysBelow(std::string_view name) {
    // A file API reads the name up to its first zero byte.
    name = name.substr(0, name.find('\0'));
    if (name.empty()) return true;  // the folder itself: not outside it
    if (name[0] == '\\' || name[0] == '/') return false;        // rooted
    if (name.find(':') != std::string_view::npos) return false;  // drive or stream
    int depth = 0;
    for (const std::string& part : Parts(name)) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (--depth < 0) return false;
        } else {
            ++depth;
        }
    }
    return true;
}

bool ModelDevice(const std::string& part) {
    std::string stem = part.substr(0, part.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

bool NamesAnyDevice(std::string_view name) {
    for (const std::string& part : Parts(name.substr(0, name.find('\0'))))
        if (ModelDevice(part)) return true;
    return false;
}

// A Big5 pair: a first byte 0x81-0xFE, a second 0x40-0x7E or 0xA1-0xFE.
bool Pair(const std::string& t, size_t i) {
    if (i + 1 >= t.size()) return false;
    auto a = static_cast<unsigned char>(t[i]), b = static_cast<unsigned char>(t[i + 1]);
    return a >= 0x81 && a <= 0xFE && ((b >= 0x40 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE));
}

// Windows would store another name: a broken Big5 character, or a part (as
// Windows splits Big5 text) ending in a dot or a blank.
bool ModelChanges(const std::string& name) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x81 && c <= 0xFE) {
            if (!Pair(name, i)) return true;
            parts.back() += name.substr(i, 2);
            ++i;
        } else if (c == '\\' || c == '/') {
            parts.emplace_back();
        } else {
            parts.back() += name[i];
        }
    }
    for (const std::string& part : parts)
        if (!part.empty() && part != "." && part != ".." && (part.back() == '.' || part.back() == ' ')) return true;
    return false;
}

// The model of the whole filter, stricter than the two invariants above in
// two ways: a name with a zero byte is refused (the file API would open
// another name than the one judged), and so is a name with a ".." part even
// when it comes back inside ("sub/../x").
bool ModelKeeps(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find('\0') != std::string::npos) return false;
    if (!StaysBelow(name) || NamesAnyDevice(name) || ModelChanges(name)) return false;
    for (const std::string& part : Parts(name))
        if (part == "..") return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    std::string listing = in.Rest();
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = listing.find('\n', start);
        lines.push_back(listing.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }

    std::vector<std::string> duplicates;
    std::vector<std::string> names = qv::NamesFromListing(lines, &duplicates);
    std::vector<std::string> expected, expectedDuplicates;
    std::set<std::string> keys;
    for (const std::string& line : lines) {
        std::string name = ModelTrim(line);
        if (!ModelKeeps(name)) continue;
        if (keys.insert(qv::WindowsNameKey(name)).second) expected.push_back(name);
        else expectedDuplicates.push_back(name);
    }
    QV_FUZZ_CHECK(duplicates == expectedDuplicates, "duplicates differ");
    for (const std::string& name : names) {
        QV_FUZZ_CHECK(!ModelChanges(name), Show(name) + " is a name Windows changes");
        // Case does not make another file: the key ignores it.
        std::string swapped = name;
        for (size_t i = 0; i < swapped.size(); ++i) {
            if (Pair(swapped, i)) {
                ++i;
            } else if (swapped[i] >= 'a' && swapped[i] <= 'z') {
                swapped[i] = static_cast<char>(swapped[i] - 'a' + 'A');
            } else if (swapped[i] >= 'A' && swapped[i] <= 'Z') {
                swapped[i] = static_cast<char>(swapped[i] - 'A' + 'a');
            }
        }
        QV_FUZZ_CHECK(qv::WindowsNameKey(swapped) == qv::WindowsNameKey(name), Show(name) + " key depends on case");
    }
    for (const std::string& name : names) {
        QV_FUZZ_CHECK(StaysBelow(name), Show(name) + " leaves the installation folder");
        QV_FUZZ_CHECK(!NamesAnyDevice(name), Show(name) + " names a device");
        QV_FUZZ_CHECK(!name.empty() && name == ModelTrim(name), Show(name));
    }
    std::string shown;
    for (const std::string& n : names) shown += Show(n) + " ";
    QV_FUZZ_CHECK(names == expected, "kept " + shown);
    return 0;
}
