#include "app/bcrypt_crypto.h"

#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "app/file_api_name.h"
#include "framework/files.h"

namespace qv {

namespace {

struct BcryptKeyCloser {
    using Handle = void*;  // BCRYPT_KEY_HANDLE
    using Result = LONG;
    static Handle Invalid() { return nullptr; }
    Result Close(Handle h) const { return BCryptDestroyKey(h); }
};
struct BcryptHashCloser {
    using Handle = void*;  // BCRYPT_HASH_HANDLE
    using Result = LONG;
    static Handle Invalid() { return nullptr; }
    Result Close(Handle h) const { return BCryptDestroyHash(h); }
};

bool Open(OwnedBcryptAlgorithm& provider, const wchar_t* algorithm) {
    if (provider) return true;
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0))) return false;
    provider = OwnedBcryptAlgorithm(handle);
    return true;
}

// A SHA-256 fed piece by piece.
class Sha256Stream {
public:
    explicit Sha256Stream(OwnedBcryptAlgorithm& provider) {
        BCRYPT_HASH_HANDLE handle = nullptr;
        if (BCRYPT_SUCCESS(BCryptCreateHash(provider.Get(), &handle, nullptr, 0, nullptr, 0, 0)))
            hash_ = OwnedHandle<BcryptHashCloser>(handle);
    }
    bool Add(const void* bytes, size_t size) {
        // BCryptHashData takes a 32-bit length: large inputs go in pieces.
        const uint8_t* at = static_cast<const uint8_t*>(bytes);
        while (hash_ && size > 0) {
            ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
            if (!BCRYPT_SUCCESS(BCryptHashData(hash_.Get(), const_cast<PUCHAR>(at), piece, 0))) return false;
            at += piece;
            size -= piece;
        }
        return static_cast<bool>(hash_);
    }
    bool Finish(Sha256Digest& digest) {
        return hash_ && BCRYPT_SUCCESS(BCryptFinishHash(hash_.Get(), digest.data(), ULONG(digest.size()), 0));
    }

private:
    OwnedHandle<BcryptHashCloser> hash_;
};

}  // namespace

LONG BcryptAlgorithmCloser::Close(Handle h) const { return BCryptCloseAlgorithmProvider(h, 0); }

bool BcryptUpgradeCrypto::Sha256(std::string_view bytes, Sha256Digest& digest) {
    if (!Open(sha256_, BCRYPT_SHA256_ALGORITHM)) return false;
    Sha256Stream stream(sha256_);
    return stream.Add(bytes.data(), bytes.size()) && stream.Finish(digest);
}

bool BcryptUpgradeCrypto::VerifyP256(const P256PublicKey& key, const Sha256Digest& digest,
                                     const P256Signature& signature) {
    if (!Open(ecdsa_, BCRYPT_ECDSA_P256_ALGORITHM)) return false;
    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, key.data(), key.size());
    BCRYPT_KEY_HANDLE handle = nullptr;
    // A key that is no point of the curve is refused here.
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(ecdsa_.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, blob,
                                            sizeof blob, 0)))
        return false;
    OwnedHandle<BcryptKeyCloser> imported(handle);
    Sha256Digest hashed = digest;
    P256Signature rs = signature;
    return BCryptVerifySignature(imported.Get(), nullptr, hashed.data(), ULONG(hashed.size()), rs.data(),
                                 ULONG(rs.size()), 0) == 0;  // STATUS_SUCCESS, nothing else
}

std::optional<FileDigest> Sha256OfFile(const std::string& path, DWORD* error) {
    auto fail = [error](DWORD code) -> std::optional<FileDigest> {
        if (error) *error = code;
        return std::nullopt;
    };
    OwnedFile file(CreateFileW(FileApiPath(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return fail(GetLastError());
    OwnedBcryptAlgorithm provider;
    if (!Open(provider, BCRYPT_SHA256_ALGORITHM)) return fail(0);
    Sha256Stream stream(provider);
    std::vector<uint8_t> buffer(256 * 1024);
    FileDigest result;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer.data(), DWORD(buffer.size()), &got, nullptr)) return fail(GetLastError());
        if (got == 0) break;
        if (!stream.Add(buffer.data(), got)) return fail(0);
        result.size += got;
    }
    if (!stream.Finish(result.sha256)) return fail(0);
    if (error) *error = 0;
    return result;
}

}  // namespace qv
