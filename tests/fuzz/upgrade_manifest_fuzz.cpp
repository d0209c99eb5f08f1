// The upgrade manifest's reader and printer.
//
// Invariants, for any bytes:
//  - a rejected manifest has a reason and keeps nothing;
//  - an accepted one has a product of printable ASCII, a version from 1 to
//    2^63-1, at least one file, sizes up to 2^63-1, and names that a model
//    of Windows' rules takes (no control characters, separators, colons or
//    <>"|?*, well-formed code page 950, no dot or blank at the end, not
//    "." or "..", no device) and that are pairwise different files under a
//    model of the portable fold (ASCII letters outside two-byte characters);
//  - print then re-read gives the same manifest; an input with LF line ends
//    only is exactly its printed form;
//  - CR LF line ends in place of LF read the same (whole against variant);
//  - cut after its n-th file line (n >= 1) an accepted manifest reads as its
//    first n files, cut anywhere else it is refused (whole against prefixes).
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/upgrade_manifest.h"
#include "fuzz_support.h"

namespace {

using qv::fuzz::Show;

bool ModelDevice(std::string part) {
    part = part.substr(0, part.find('.'));
    while (!part.empty() && part.back() == ' ') part.pop_back();
    for (char& c : part)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (part == "CON" || part == "PRN" || part == "AUX" || part == "NUL" || part == "CONIN$" || part == "CONOUT$")
        return true;
    return part.size() == 4 && (part.compare(0, 3, "COM") == 0 || part.compare(0, 3, "LPT") == 0) &&
           part[3] >= '0' && part[3] <= '9';
}

// The characters of a name in code page 950: one or two bytes each; empty
// when the bytes are no such text.
std::vector<unsigned> Characters(const std::string& name) {
    std::vector<unsigned> out;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            out.push_back(c);
            continue;
        }
        if (c < 0x81 || c > 0xFE || i + 1 >= name.size()) return {};
        unsigned t = static_cast<unsigned char>(name[++i]);
        if (!((t >= 0x40 && t <= 0x7E) || (t >= 0xA1 && t <= 0xFE))) return {};
        out.push_back(c << 8 | t);
    }
    return out;
}

// The folded character: upper-case ASCII; a two-byte character stays as it
// is, whatever its second byte (the portable fold's rule).
unsigned ModelFold(unsigned ch) { return ch >= 'a' && ch <= 'z' ? ch - 32 : ch; }

std::vector<unsigned> ModelKey(const std::string& name) {
    std::vector<unsigned> key;
    for (unsigned ch : Characters(name)) key.push_back(ModelFold(ch));
    while (!key.empty() && (key.back() == '.' || key.back() == ' ')) key.pop_back();
    return key;
}

bool ModelTakesName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.front() == ' ' || name.back() == ' ' || name.back() == '.') return false;
    std::vector<unsigned> chars = Characters(name);
    if (chars.empty()) return false;
    for (unsigned ch : chars) {
        if (ch < 0x20 || ch == 0x7F) return false;
        if (ch < 0x80 && std::string_view("\\/:<>\"|?*").find(static_cast<char>(ch)) != std::string_view::npos)
            return false;
    }
    // The listing's device rule splits at every "\" byte, also a second
    // byte of a character: a stricter view, which the manifest follows.
    size_t start = 0;
    for (;;) {
        size_t end = name.find('\\', start);
        if (ModelDevice(name.substr(start, end == std::string::npos ? std::string::npos : end - start)))
            return false;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return true;
}

void CheckAccepted(const qv::UpgradeManifest& m, const std::string& input) {
    QV_FUZZ_CHECK(!m.product.empty(), Show(input));
    for (char c : m.product) QV_FUZZ_CHECK(c >= 0x20 && c <= 0x7E, Show(m.product));
    QV_FUZZ_CHECK(m.version >= 1 && m.version <= 0x7FFFFFFFFFFFFFFFull, Show(input));
    QV_FUZZ_CHECK(!m.files.empty(), Show(input));
    std::set<std::vector<unsigned>> keys;
    for (const qv::ManifestFile& f : m.files) {
        QV_FUZZ_CHECK(f.size <= 0x7FFFFFFFFFFFFFFFull, Show(f.name));
        QV_FUZZ_CHECK(ModelTakesName(f.name), Show(f.name) + " taken");
        QV_FUZZ_CHECK(keys.insert(ModelKey(f.name)).second, Show(f.name) + " is a second name of one file");
        QV_FUZZ_CHECK(m.Find(f.name) == &f, Show(f.name));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const qv::ManifestParse p = qv::ParseManifest(input);
    if (!p.ok) {
        QV_FUZZ_CHECK(!p.reason.empty(), Show(input));
        QV_FUZZ_CHECK(p.manifest == qv::UpgradeManifest{}, Show(input));
    } else {
        CheckAccepted(p.manifest, input);
        const std::string printed = qv::PrintManifest(p.manifest);
        const qv::ManifestParse again = qv::ParseManifest(printed);
        QV_FUZZ_CHECK(again.ok && again.manifest == p.manifest, Show(printed) + " " + again.reason);
        if (input.find('\r') == std::string::npos) QV_FUZZ_CHECK(printed == input, Show(printed));
    }

    if (input.find('\r') == std::string::npos) {
        std::string crlf;
        for (char c : input) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        if (crlf.size() <= qv::kManifestMaxBytes) {
            const qv::ManifestParse q = qv::ParseManifest(crlf);
            QV_FUZZ_CHECK(q.ok == p.ok && q.manifest == p.manifest, Show(crlf) + " " + q.reason);
        }
    }

    if (p.ok) {
        // Line ends of the accepted text; the file lines start at the
        // fourth line.
        std::vector<size_t> ends;
        for (size_t i = 0; i < input.size(); ++i)
            if (input[i] == '\n') ends.push_back(i + 1);
        for (size_t cut = 0; cut < input.size(); ++cut) {
            const qv::ManifestParse q = qv::ParseManifest(std::string_view(input).substr(0, cut));
            size_t line = 0;
            while (line < ends.size() && ends[line] < cut) ++line;
            const bool atLineEnd = line < ends.size() && ends[line] == cut;
            const size_t files = atLineEnd && line >= 3 ? line - 2 : 0;  // line: index of the last whole line
            if (files == 0) {
                QV_FUZZ_CHECK(!q.ok, "cut at " + std::to_string(cut) + ": " + Show(input));
                continue;
            }
            QV_FUZZ_CHECK(q.ok && q.manifest.files.size() == files &&
                              std::equal(q.manifest.files.begin(), q.manifest.files.end(), p.manifest.files.begin()),
                          "cut at " + std::to_string(cut) + ": " + q.reason);
        }
    }
    return 0;
}
