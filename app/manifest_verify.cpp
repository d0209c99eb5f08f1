#include "app/manifest_verify.h"

namespace qv {

ManifestCheck VerifyManifest(std::string_view manifest, std::string_view signature, const P256PublicKey& key,
                             std::string_view product, uint64_t installedVersion, UpgradeCrypto& crypto,
                             NameFold fold) {
    ManifestCheck check;
    auto verdict = [&check](ManifestVerdict v, std::string reason) {
        check.verdict = v;
        check.reason = std::move(reason);
        if (v != ManifestVerdict::Ok && v != ManifestVerdict::WrongProduct && v != ManifestVerdict::OlderVersion)
            check.manifest = UpgradeManifest{};
        return check;
    };
    // Bounded before anything else reads it.
    if (manifest.size() > kManifestMaxBytes)
        return verdict(ManifestVerdict::Malformed, "the manifest has more than " +
                                                       std::to_string(kManifestMaxBytes) + " bytes");

    // The signature first: until it verifies, the text is anyone's and is
    // not read.
    std::string why;
    std::optional<P256Signature> rs = ReadDerSignature(signature, &why);
    if (!rs) return verdict(ManifestVerdict::BadSignature, "the signature is unreadable: " + why);
    Sha256Digest digest{};
    if (!crypto.Sha256(manifest, digest))
        return verdict(ManifestVerdict::BadSignature, "the manifest's SHA-256 could not be made");
    if (!crypto.VerifyP256(key, digest, *rs))
        return verdict(ManifestVerdict::BadSignature, "the signature is not the publisher's for this manifest");

    ManifestParse parsed = ParseManifest(manifest, fold);
    if (!parsed.ok) return verdict(ManifestVerdict::Malformed, parsed.reason);
    check.manifest = std::move(parsed.manifest);
    if (check.manifest.product != product)
        return verdict(ManifestVerdict::WrongProduct, "the upgrade is for the product " + check.manifest.product);
    if (check.manifest.version < installedVersion)
        return verdict(ManifestVerdict::OlderVersion, "version " + std::to_string(check.manifest.version) +
                                                           " is older than the installed version " +
                                                           std::to_string(installedVersion));
    return verdict(ManifestVerdict::Ok, "");
}

bool UpgradeSigningRequired() {
#ifndef QUOTIVA_REQUIRE_SIGNED_UPGRADES
#error "the build says whether signed upgrades are required (app/CMakeLists.txt)"
#endif
    return QUOTIVA_REQUIRE_SIGNED_UPGRADES != 0;
}

bool FileMatchesManifest(const ManifestFile& file, const FileDigest& digest) {
    return digest.size == file.size && digest.sha256 == file.sha256;
}

}  // namespace qv
