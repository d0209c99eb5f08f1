// The upgrade manifest: the publisher's list of the files of an upgrade,
// with each file's size and SHA-256, read strictly and free of platform
// calls.
//
//   quotiva-upgrade-manifest 1
//   product Quotiva
//   version 7
//   file 3145728 <64 lower-case hex digits of SHA-256> QVX.exe
//   file 409600 <64 lower-case hex digits of SHA-256> qvxchart.dll
//
// Every line ends in LF or CR LF, the last one included. The format line
// comes first, then `product` (the rest of the line), then `version`
// (decimal, 1 to 2^63-1), then at least one `file` line: the size in decimal
// bytes, the SHA-256, one blank, and the name as the rest of the line. Fields
// are separated by exactly one blank; numbers have no sign and no leading
// zero. The names are the listing's names in the program's 8-bit code page
// (950, Big5).
//
// Anything else rejects the whole manifest with a reason: what the program
// installs is exactly what the publisher wrote, or nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/upgrade_names.h"

namespace qv {

// The two files of a signed upgrade folder; neither is ever installed.
inline constexpr std::string_view kManifestFileName = "upgrade.manifest";
inline constexpr std::string_view kManifestSignatureFileName = "upgrade.manifest.sig";

// A manifest is read whole into memory: more than this is refused.
inline constexpr size_t kManifestMaxBytes = 1024 * 1024;

inline constexpr std::string_view kManifestFormatLine = "quotiva-upgrade-manifest 1";

using Sha256Digest = std::array<uint8_t, 32>;

struct ManifestFile {
    std::string name;  // as the listing gives it, byte for byte
    uint64_t size = 0;
    Sha256Digest sha256{};
    bool operator==(const ManifestFile&) const = default;
};

struct UpgradeManifest {
    std::string product;
    uint64_t version = 0;
    std::vector<ManifestFile> files;  // in the manifest's order

    // The file of exactly this name (bytes compared as they are: a server
    // serves a file under the name it lists), or nullptr.
    const ManifestFile* Find(std::string_view name) const;
    bool operator==(const UpgradeManifest&) const = default;
};

struct ManifestParse {
    bool ok = false;
    std::string reason;  // why the manifest was rejected (English)
    UpgradeManifest manifest;
};

// Reads a manifest as served. On rejection, `reason` names the line and
// what is wrong with it ("line 5: ..."). Two names are one file when their
// WindowsNameKey (upgrade_names.h) with `fold` is the same; the program
// passes the system's fold (SystemNameFold, file_api_name.h), as it does
// for the listing.
ManifestParse ParseManifest(std::string_view bytes, NameFold fold = FoldAsciiLetters);

// The manifest's text with LF line ends; ParseManifest reads it back equal.
std::string PrintManifest(const UpgradeManifest& manifest);

// Why a manifest cannot name a file of this name, or nothing when it can.
// Refused: what a listing of the upgrade folder would leave out (empty,
// "." and "..", a zero byte, a device name, a name that leaves the folder:
// rooted, a ".." part, a drive or stream colon, a name Windows would
// change), a folder part ("\" or "/" outside a two-byte character), a blank
// or tab at either end, a trailing dot, control characters, characters
// Windows refuses in a file name (<>"|?*), bytes that are no text of code
// page 950, the form of the program's temporary files ("~qv" + four hex
// digits + ".tmp", which a run removes as leftovers) and the two manifest
// files' own names (in any case).
std::optional<std::string> ManifestNameProblem(std::string_view name);

// The digest as 64 lower-case hex digits, and back (nothing when the text
// is not exactly that).
std::string Sha256Hex(const Sha256Digest& digest);
std::optional<Sha256Digest> Sha256FromHex(std::string_view hex);

}  // namespace qv
