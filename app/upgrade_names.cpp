#include "app/upgrade_names.h"

#include "framework/text.h"

namespace qv {

namespace {
bool IsListingBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
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
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of("\\/", start);
        std::string_view part = name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part == "..") return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
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
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of("\\/", start);
        if (IsDeviceStem(DeviceStem(name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start))))
            return true;
        if (end == std::string_view::npos) return false;
        start = end + 1;
    }
}

std::vector<std::string> NamesFromListing(const std::vector<std::string>& lines) {
    std::vector<std::string> names;
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
        names.push_back(std::move(name));
    }
    return names;
}

}  // namespace qv
