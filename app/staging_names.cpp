#include "app/staging_names.h"

#include "framework/text.h"

namespace qv {

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The next "\" or "/" at or after `from` that is a separator and not the
// second byte of a two-byte Big5 character (those may be 0x5C, the code of
// "\"); npos when there is none.
size_t NextSeparator(std::string_view path, size_t from) {
    for (size_t i = from; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c == '\\' || c == '/') return i;
        if (c >= 0x81 && c <= 0xFE) ++i;
    }
    return std::string_view::npos;
}

constexpr std::string_view kStagingPrefix = "~qv";
constexpr std::string_view kStagingExtension = ".tmp";
constexpr std::string_view kKeptExtension = ".old";
constexpr size_t kStagingDigits = 4;

}  // namespace

std::string_view FolderOfPath(std::string_view path) {
    size_t end = 0;
    for (size_t at = NextSeparator(path, 0); at != std::string_view::npos; at = NextSeparator(path, at + 1))
        end = at + 1;
    return path.substr(0, end);
}

namespace {

std::string ProgramFileName(std::string_view folder, uint16_t number, std::string_view extension) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string name(folder);
    name += kStagingPrefix;
    for (int shift = 12; shift >= 0; shift -= 4) name += kDigits[(number >> shift) & 0xF];
    name += extension;
    return name;
}

bool IsProgramFileName(std::string_view name, std::string_view extension) {
    if (name.size() != kStagingPrefix.size() + kStagingDigits + extension.size()) return false;
    if (!SameText(name.substr(0, kStagingPrefix.size()), kStagingPrefix)) return false;
    for (size_t i = 0; i < kStagingDigits; ++i)
        if (!IsHexDigit(name[kStagingPrefix.size() + i])) return false;
    return SameText(name.substr(kStagingPrefix.size() + kStagingDigits), extension);
}

}  // namespace

std::string StagingFileName(std::string_view folder, uint16_t number) {
    return ProgramFileName(folder, number, kStagingExtension);
}

bool IsStagingFileName(std::string_view name) { return IsProgramFileName(name, kStagingExtension); }

std::string KeptFileName(std::string_view folder, uint16_t number) {
    return ProgramFileName(folder, number, kKeptExtension);
}

bool IsKeptFileName(std::string_view name) { return IsProgramFileName(name, kKeptExtension); }

}  // namespace qv
