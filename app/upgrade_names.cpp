#include "app/upgrade_names.h"

#include <set>

#include "framework/text.h"

namespace qv {

namespace {

bool IsListingBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whether two bytes are one Big5 character: a first byte 0x81-0xFE and a
// second byte 0x40-0x7E or 0xA1-0xFE.
bool IsBig5Pair(std::string_view text, size_t at) {
    if (at + 1 >= text.size()) return false;
    auto lead = static_cast<unsigned char>(text[at]);
    auto trail = static_cast<unsigned char>(text[at + 1]);
    return lead >= 0x81 && lead <= 0xFE && ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE));
}

// A first byte of a Big5 character without its second byte: the system
// turns such bytes into some other character of its choosing.
bool HasBrokenBig5(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x81 || c > 0xFE) continue;
        if (!IsBig5Pair(text, i)) return true;
        ++i;
    }
    return false;
}

// Calls `each` with every part of a name split at every byte "\\" and "/".
// Where a name is judged for safety this is the stricter view: a Big5
// character whose second byte has the code of "\\" is split too, so a part
// is seen where Windows sees none, never the other way round.
template <class F>
void ForEachRawPart(std::string_view name, F each) {
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of("\\/", start);
        each(name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return;
        start = end + 1;
    }
}

// Calls `each` with every part of a name as Windows splits it. Names are
// Big5: the second byte of a character may have the code of "\\" ("\xa3\x5c"
// is a Greek letter) and is no separator.
template <class F>
void ForEachPart(std::string_view name, F each) {
    size_t start = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (IsBig5Pair(name, i)) {
            ++i;
        } else if (name[i] == '\\' || name[i] == '/') {
            each(name.substr(start, i - start));
            start = i + 1;
        }
    }
    each(name.substr(start));
}

}  // namespace

std::string TrimListingLine(std::string_view line) {
    size_t first = 0;
    size_t last = line.size();
    while (first < last && IsListingBlank(line[first])) ++first;
    while (last > first && IsListingBlank(line[last - 1])) --last;
    return std::string(line.substr(first, last - first));
}

bool IsFolderDotName(std::string_view name) { return name == "." || name == ".."; }

bool StaysInsideInstallFolder(std::string_view name) {
    if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
    if (name.find(':') != std::string_view::npos) return false;
    bool inside = true;
    ForEachRawPart(name, [&](std::string_view part) {
        if (part == "..") inside = false;
    });
    return inside;
}

namespace {

// A part up to its extension, without the blanks Windows ignores there.
std::string_view DeviceStem(std::string_view part) {
    part = part.substr(0, part.find('.'));
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    return part;
}

bool IsDeviceStem(std::string_view stem) {
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (SameText(stem, device)) return true;
    if (stem.size() == 4 && stem[3] >= '0' && stem[3] <= '9')
        return SameText(stem.substr(0, 3), "COM") || SameText(stem.substr(0, 3), "LPT");
    return false;
}

}  // namespace

bool NamesDevice(std::string_view name) {
    bool device = false;
    ForEachRawPart(name, [&](std::string_view part) {
        if (IsDeviceStem(DeviceStem(part))) device = true;
    });
    return device;
}

bool WindowsChangesName(std::string_view name) {
    if (HasBrokenBig5(name)) return true;
    bool changes = false;
    ForEachPart(name, [&](std::string_view part) {
        if (IsFolderDotName(part) || part.empty()) return;
        if (part.back() == '.' || part.back() == ' ') changes = true;
    });
    return changes;
}

std::string FoldAsciiLetters(std::string_view name) {
    std::string folded(name);
    for (size_t i = 0; i < folded.size(); ++i) {
        auto c = static_cast<unsigned char>(folded[i]);
        if (IsBig5Pair(folded, i)) {
            ++i;  // the second byte is part of the character, whatever its code
        } else if (c >= 'a' && c <= 'z') {
            folded[i] = static_cast<char>(c - 'a' + 'A');
        }
    }
    return folded;
}

std::string WindowsNameKey(std::string_view name, NameFold fold) {
    std::string key;
    ForEachPart(name, [&](std::string_view part) {
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
        if (part.empty()) return;
        if (!key.empty()) key += '\\';
        key += part;
    });
    return fold ? fold(key) : key;
}

std::vector<std::string> NamesFromListing(const std::vector<std::string>& lines, std::vector<std::string>* duplicates,
                                          NameFold fold) {
    std::vector<std::string> names;
    std::set<std::string> keys;
    for (const std::string& line : lines) {
        std::string name = TrimListingLine(line);
        // Taken as a file, "." or ".." would make the download open the
        // installation folder itself (or its parent) as a file.
        if (name.empty() || IsFolderDotName(name)) continue;
        // A file API reads a name only up to a zero byte: the checks below
        // would judge another name than the one opened ("..\0x", "NUL\0").
        if (name.find('\0') != std::string::npos) continue;
        // The listing comes from the network: a name must not make the
        // download write anywhere but below the installation folder.
        if (!StaysInsideInstallFolder(name)) continue;
        // Nor at a device ("NUL", "com1.dll") in place of a file.
        if (NamesDevice(name)) continue;
        // Nor under a name Windows would silently make another one.
        if (WindowsChangesName(name)) continue;
        // One file on Windows is downloaded once: a second name for it would
        // replace what the first brought.
        if (!keys.insert(WindowsNameKey(name, fold)).second) {
            if (duplicates) duplicates->push_back(std::move(name));
            continue;
        }
        names.push_back(std::move(name));
    }
    return names;
}

}  // namespace qv
