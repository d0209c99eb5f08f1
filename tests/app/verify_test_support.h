// What the verifier's tests share in both builds: the crypto backend and the
// name fold of the build (bcrypt.dll and the system's fold under Wine,
// OpenSSL's libcrypto and the C library's natively), the folders
// that the publisher's tool signed for the run (make_signed_folders.sh,
// QV_SIGNED_FOLDERS), and small file helpers.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/manifest_verify.h"

namespace qv::test {

// This build's crypto backend.
std::unique_ptr<UpgradeCrypto> MakeUpgradeCrypto();

// Names compared as the system compares them: SystemNameFold under Wine;
// natively code page 950 decoded by iconv and every letter upper-cased by
// the C library (the publisher's tool folds the same way in Python).
std::string BuildNameFold(std::string_view name);

// The size and SHA-256 of a file as the program reads it: Sha256OfFile
// under Wine; natively the backend's SHA-256 of the file's bytes.
std::optional<FileDigest> DigestOfFile(const std::string& path);

// A path given in Unix form as this build's file functions take it (under
// Wine drive Z: is the Unix root).
inline std::string BuildPath(const std::string& unixPath) {
#ifdef _WIN32
    return "Z:" + unixPath;
#else
    return unixPath;
#endif
}

// A file of the signed folders: "good/upgrade.manifest".
inline std::string SignedPath(const std::string& relative) {
    const char* root = std::getenv("QV_SIGNED_FOLDERS");
    return BuildPath(std::string(root ? root : "/QV_SIGNED_FOLDERS-not-set") + "/" + relative);
}

inline std::string SourcePath(const std::string& relative) { return BuildPath(QV_SOURCE_DIR "/" + relative); }

// A file's bytes; nothing when it cannot be read.
inline std::optional<std::string> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out.flush());
}

}  // namespace qv::test
