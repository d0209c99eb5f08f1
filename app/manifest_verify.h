// Whether a signed upgrade may be installed: the manifest's signature, its
// product and its version, decided free of platform calls. The digest and
// the signature check come from a crypto backend (the system's bcrypt.dll in
// the program, bcrypt_crypto.h).
//
// The signature (upgrade.manifest.sig) is ECDSA P-256 over the SHA-256 of
// the manifest's bytes exactly as served, in DER form. Every check fails
// closed: whatever cannot be shown to be the publisher's is refused.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/ecdsa_signature.h"
#include "app/upgrade_manifest.h"

namespace qv {

// The publisher's public key: the point's X then Y, 32 bytes each,
// big-endian (an uncompressed point without its 0x04 byte).
using P256PublicKey = std::array<uint8_t, 64>;

// The product every manifest for this program names.
inline constexpr std::string_view kUpgradeProduct = "Quotiva";

class UpgradeCrypto {
public:
    virtual ~UpgradeCrypto() = default;
    // The SHA-256 of the bytes; false when it cannot be made.
    virtual bool Sha256(std::string_view bytes, Sha256Digest& digest) = 0;
    // True only when the signature verifies for the digest under the key;
    // a key that is no point of the curve, or a backend that fails, gives
    // false.
    virtual bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest,
                            const P256Signature& signature) = 0;
};

enum class ManifestVerdict {
    Ok,            // install the manifest's files
    BadSignature,  // not signed with the program's key (or unreadable)
    WrongProduct,  // signed, for another product
    OlderVersion,  // signed, older than the installed version
    Malformed,     // signed, but not a manifest this program reads
};

struct ManifestCheck {
    ManifestVerdict verdict = ManifestVerdict::BadSignature;
    std::string reason;  // why, for anything but Ok (English)
    // Read when the signature verified and the text parsed (Ok,
    // WrongProduct, OlderVersion); empty otherwise.
    UpgradeManifest manifest;
};

// The decision on a manifest and its signature as fetched. In order: a
// manifest over kManifestMaxBytes is Malformed; then the signature must
// verify (BadSignature), then the text must parse (Malformed), name
// `product` (WrongProduct) and have a version not below
// `installedVersion` (OlderVersion; 0 = no version recorded). The same
// version as the installed one is accepted: a run after an interrupted
// upgrade installs it again. `fold` goes to ParseManifest (the program
// passes SystemNameFold).
ManifestCheck VerifyManifest(std::string_view manifest, std::string_view signature, const P256PublicKey& key,
                             std::string_view product, uint64_t installedVersion, UpgradeCrypto& crypto,
                             NameFold fold = FoldAsciiLetters);

// Whether the program was built to refuse an upgrade folder without a
// signed manifest (CMake option QUOTIVA_REQUIRE_SIGNED, scripts/release
// --require-signed). Built without it, a folder without a manifest is
// downloaded as listed, so that servers without manifests keep working.
bool UpgradeSigningRequired();

// A file's size and SHA-256, as read from disk.
struct FileDigest {
    uint64_t size = 0;
    Sha256Digest sha256{};
    bool operator==(const FileDigest&) const = default;
};

// Whether a file on disk is the manifest's file: same size, same SHA-256.
bool FileMatchesManifest(const ManifestFile& file, const FileDigest& digest);

}  // namespace qv
