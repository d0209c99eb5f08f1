// The verifier's crypto backend for the native tests: OpenSSL's libcrypto,
// independent of the program's own DER code (the signature goes back to DER
// through libcrypto's ECDSA_SIG). And the native stand-in for the system's
// name fold.
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "tests/app/verify_test_support.h"

namespace qv::test {

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

class OpenSslCrypto : public UpgradeCrypto {
public:
    bool Sha256(std::string_view bytes, Sha256Digest& digest) override {
        unsigned int size = 0;
        return EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) == 1 &&
               size == digest.size();
    }

    bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& rs) override {
        unsigned char point[65] = {0x04};
        std::copy(key.begin(), key.end(), point + 1);
        Owned<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free> build(OSSL_PARAM_BLD_new());
        if (!build || !OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
            !OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point))
            return false;
        Owned<OSSL_PARAM, OSSL_PARAM_free> params(OSSL_PARAM_BLD_to_param(build.get()));
        Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free> fromData(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
        EVP_PKEY* raw = nullptr;
        if (!params || !fromData || EVP_PKEY_fromdata_init(fromData.get()) != 1 ||
            EVP_PKEY_fromdata(fromData.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
            return false;
        Owned<EVP_PKEY, EVP_PKEY_free> pkey(raw);
        // A point off the curve is refused here.
        Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free> check(EVP_PKEY_CTX_new(pkey.get(), nullptr));
        if (!check || EVP_PKEY_public_check(check.get()) != 1) return false;

        Owned<ECDSA_SIG, ECDSA_SIG_free> sig(ECDSA_SIG_new());
        BIGNUM* r = BN_bin2bn(rs.data(), 32, nullptr);
        BIGNUM* s = BN_bin2bn(rs.data() + 32, 32, nullptr);
        if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
            BN_free(r);
            BN_free(s);
            return false;
        }
        unsigned char* der = nullptr;
        int derSize = i2d_ECDSA_SIG(sig.get(), &der);
        if (derSize <= 0) return false;
        Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free> verify(EVP_PKEY_CTX_new(pkey.get(), nullptr));
        bool ok = verify && EVP_PKEY_verify_init(verify.get()) == 1 &&
                  EVP_PKEY_verify(verify.get(), der, static_cast<size_t>(derSize), digest.data(), digest.size()) == 1;
        OPENSSL_free(der);
        return ok;
    }
};

}  // namespace

std::unique_ptr<UpgradeCrypto> MakeUpgradeCrypto() { return std::make_unique<OpenSslCrypto>(); }

std::string BuildNameFold(std::string_view name) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    iconv_t convert = iconv_open("UTF-32LE", "CP950");
    if (convert == reinterpret_cast<iconv_t>(-1) || !utf8) return "<no fold: " + std::string(name) + ">";
    std::string in(name);
    std::string out(in.size() * 4 + 4, '\0');
    char* from = in.data();
    char* to = out.data();
    size_t left = in.size(), room = out.size();
    const bool whole = iconv(convert, &from, &left, &to, &room) != static_cast<size_t>(-1);
    iconv_close(convert);
    // Bytes that are no text are left as they are (the names rules refuse
    // them before any fold).
    if (!whole) return std::string(name);
    out.resize(out.size() - room);
    for (size_t i = 0; i + 3 < out.size(); i += 4) {
        wint_t c = static_cast<unsigned char>(out[i]) | static_cast<unsigned char>(out[i + 1]) << 8 |
                   static_cast<unsigned char>(out[i + 2]) << 16;
        wint_t upper = towupper_l(c, utf8);
        out[i] = static_cast<char>(upper & 0xFF);
        out[i + 1] = static_cast<char>(upper >> 8 & 0xFF);
        out[i + 2] = static_cast<char>(upper >> 16 & 0xFF);
    }
    return out;
}

std::optional<FileDigest> DigestOfFile(const std::string& path) {
    std::optional<std::string> bytes = ReadBytes(path);
    if (!bytes) return std::nullopt;
    FileDigest digest;
    digest.size = bytes->size();
    if (!OpenSslCrypto().Sha256(*bytes, digest.sha256)) return std::nullopt;
    return digest;
}

}  // namespace qv::test
