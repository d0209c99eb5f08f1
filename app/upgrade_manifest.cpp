#include "app/upgrade_manifest.h"

#include <limits>
#include <map>

#include "app/staging_names.h"
#include "framework/text.h"

namespace qv {

namespace {

constexpr uint64_t kMaxNumber = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

bool IsBig5Lead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsBig5Trail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFE); }

// Decimal without sign or leading zero, at most 2^63-1 (sizes and versions
// are signed 64-bit numbers where files are written).
std::optional<uint64_t> ReadNumber(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    if (text.size() > 1 && text[0] == '0') return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');  // 19 digits fit 64 bits
    }
    if (value > kMaxNumber) return std::nullopt;
    return value;
}

std::string Decimal(uint64_t value) { return std::to_string(value); }

// The product is a plain word or words: printable ASCII, no blank at
// either end.
bool IsProductText(std::string_view text) {
    if (text.empty() || text.front() == ' ' || text.back() == ' ') return false;
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

}  // namespace

const ManifestFile* UpgradeManifest::Find(std::string_view name) const {
    for (const ManifestFile& file : files)
        if (file.name == name) return &file;
    return nullptr;
}

std::string Sha256Hex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (uint8_t b : digest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

std::optional<Sha256Digest> Sha256FromHex(std::string_view hex) {
    if (hex.size() != 64) return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;  // upper-case digits too: one text per digest
    };
    Sha256Digest digest{};
    for (size_t i = 0; i < 32; ++i) {
        int high = nibble(hex[2 * i]);
        int low = nibble(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return digest;
}

std::optional<std::string> ManifestNameProblem(std::string_view name) {
    if (name.empty()) return "no file name";
    if (name.front() == ' ' || name.front() == '\t') return "a blank at the start of the name";
    if (name.back() == ' ' || name.back() == '\t') return "a blank at the end of the name";
    if (name.back() == '.') return "a dot at the end of the name";
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == 0) return "a zero byte in the name";
        if (c < 0x20 || c == 0x7F) return "a control character in the name";
        if (c == ':') return "a drive or stream colon in the name";
        if (c == '\\' || c == '/') return "a folder in the name";
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return "a character that Windows refuses in a file name";
        if (c >= 0x80) {
            // A two-byte character of code page 950, or no text at all.
            if (!IsBig5Lead(c) || i + 1 >= name.size() || !IsBig5Trail(static_cast<unsigned char>(name[i + 1])))
                return "bytes that are no text of code page 950 in the name";
            ++i;
        }
    }
    // Whatever a listing of the folder would leave out cannot be listed, so
    // the manifest must not name it either (devices, "..", ...). The
    // listing's rules take every "\" byte for a separator, also the second
    // byte of a Big5 character: stricter than Windows, never laxer.
    const std::vector<std::string> kept = NamesFromListing({std::string(name)});
    if (kept.size() != 1 || kept[0] != name) {
        if (NamesDevice(name)) return "a name that Windows takes for a device";
        return "a name that a listing of the folder leaves out";
    }
    // The program receives downloads under names of this form and removes
    // such files as leftovers of an interrupted run.
    if (IsStagingFileName(name)) return "a name of the program's temporary files";
    if (SameText(name, kManifestFileName) || SameText(name, kManifestSignatureFileName))
        return "the name of a manifest file";
    return std::nullopt;
}

ManifestParse ParseManifest(std::string_view bytes, NameFold fold) {
    ManifestParse result;
    auto reject = [&result](std::string reason) {
        result.ok = false;
        result.reason = std::move(reason);
        result.manifest = UpgradeManifest{};
        return result;
    };
    if (bytes.size() > kManifestMaxBytes)
        return reject("the manifest has " + Decimal(bytes.size()) + " bytes, more than " + Decimal(kManifestMaxBytes));
    if (bytes.empty()) return reject("the manifest is empty");
    if (bytes.back() != '\n') return reject("the last line has no line end");

    UpgradeManifest& manifest = result.manifest;
    // Where each Windows file name was seen first: two names of one file
    // would have the second download overwrite the first.
    std::map<std::string, size_t> seen;
    size_t lineNumber = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find('\n', start);  // found: the text ends in '\n'
        std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string at = "line " + Decimal(lineNumber) + ": ";

        if (lineNumber == 1) {
            if (line != kManifestFormatLine) {
                if (line.substr(0, 25) == "quotiva-upgrade-manifest ")
                    return reject(at + "a manifest format this program does not know");
                return reject(at + "not an upgrade manifest");
            }
            continue;
        }
        if (lineNumber == 2) {
            if (line.substr(0, 8) != "product ") return reject(at + "the product is missing");
            std::string_view product = line.substr(8);
            if (!IsProductText(product)) return reject(at + "the product is not a plain text");
            manifest.product = std::string(product);
            continue;
        }
        if (lineNumber == 3) {
            if (line.substr(0, 8) != "version ") return reject(at + "the version is missing");
            std::optional<uint64_t> version = ReadNumber(line.substr(8));
            if (!version || *version == 0) return reject(at + "the version is not a number from 1 to 2^63-1");
            manifest.version = *version;
            continue;
        }
        if (line.substr(0, 5) != "file ") {
            if (line.substr(0, 8) == "product ") return reject(at + "a second product");
            if (line.substr(0, 8) == "version ") return reject(at + "a second version");
            return reject(at + "not a file line");
        }
        std::string_view rest = line.substr(5);
        const size_t sizeEnd = rest.find(' ');
        if (sizeEnd == std::string_view::npos) return reject(at + "the file line is incomplete");
        std::optional<uint64_t> size = ReadNumber(rest.substr(0, sizeEnd));
        if (!size) return reject(at + "the size is not a number from 0 to 2^63-1");
        rest = rest.substr(sizeEnd + 1);
        if (rest.size() < 65 || rest[64] != ' ') return reject(at + "the SHA-256 is not 64 lower-case hex digits");
        std::optional<Sha256Digest> digest = Sha256FromHex(rest.substr(0, 64));
        if (!digest) return reject(at + "the SHA-256 is not 64 lower-case hex digits");
        std::string_view name = rest.substr(65);
        if (std::optional<std::string> problem = ManifestNameProblem(name)) return reject(at + *problem);
        auto [where, added] = seen.emplace(WindowsNameKey(name, fold), lineNumber);
        if (!added)
            return reject(at + "the name is one file on Windows with the name on line " + Decimal(where->second));
        manifest.files.push_back(ManifestFile{std::string(name), *size, *digest});
    }
    if (lineNumber < 2) return reject("the product is missing");
    if (lineNumber < 3) return reject("the version is missing");
    if (manifest.files.empty()) return reject("the manifest names no file");
    result.ok = true;
    return result;
}

std::string PrintManifest(const UpgradeManifest& manifest) {
    std::string text(kManifestFormatLine);
    text += "\nproduct " + manifest.product + "\nversion " + Decimal(manifest.version) + "\n";
    for (const ManifestFile& file : manifest.files)
        text += "file " + Decimal(file.size) + " " + Sha256Hex(file.sha256) + " " + file.name + "\n";
    return text;
}

}  // namespace qv
