// The crypto of signed upgrades over the system's bcrypt.dll: SHA-256 and
// ECDSA P-256 verification for VerifyManifest (manifest_verify.h), and the
// SHA-256 of a file on disk for checking downloaded and installed files.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "app/manifest_verify.h"
#include "framework/owned_handle.h"

namespace qv {

struct BcryptAlgorithmCloser {
    using Handle = void*;  // BCRYPT_ALG_HANDLE
    using Result = LONG;
    static Handle Invalid() { return nullptr; }
    Result Close(Handle h) const;
};
using OwnedBcryptAlgorithm = OwnedHandle<BcryptAlgorithmCloser>;

// Opens the two algorithm providers on first use and keeps them. A
// provider that cannot be opened makes its operation fail (false), so a
// system without them refuses every signed upgrade rather than installing
// one unchecked.
class BcryptUpgradeCrypto : public UpgradeCrypto {
public:
    bool Sha256(std::string_view bytes, Sha256Digest& digest) override;
    bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) override;

private:
    OwnedBcryptAlgorithm sha256_;
    OwnedBcryptAlgorithm ecdsa_;
};

// The size and SHA-256 of a file, read from start to end in chunks (any
// size; a path beyond the classic length limit as the staging code reaches
// it). Nothing when the file cannot be opened or read, or the digest not
// made; `error` then holds the system's error code (0 when bcrypt failed).
// The file may be open elsewhere for reading and writing meanwhile.
std::optional<FileDigest> Sha256OfFile(const std::string& path, DWORD* error = nullptr);

}  // namespace qv
