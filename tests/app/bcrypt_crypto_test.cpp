// The program's crypto under Wine: bcrypt.dll's SHA-256 and ECDSA, the
// SHA-256 of files on disk, and the key the build put into the resources.
// Also the verifier tests' backend for this build (verify_test_support.h).
#include "framework/files.h"
#include "app/bcrypt_crypto.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "app/file_api_name.h"
#include "app/signing_key.h"
#include "framework/win32_text.h"
#include "tests/app/app_test_files.h"
#include "tests/app/verify_test_support.h"

namespace qv {

std::unique_ptr<UpgradeCrypto> test::MakeUpgradeCrypto() { return std::make_unique<BcryptUpgradeCrypto>(); }

std::optional<FileDigest> test::DigestOfFile(const std::string& path) { return Sha256OfFile(path); }

std::string test::BuildNameFold(std::string_view name) { return SystemNameFold(name); }

namespace {

// Known answers (FIPS 180-2 examples).
const std::string kEmptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kAbcSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kMillionASha = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

TEST(BcryptUpgradeCrypto, Sha256GivesTheKnownAnswers) {
    BcryptUpgradeCrypto crypto;
    struct Case {
        std::string bytes;
        const std::string& sha;
    };
    const Case cases[] = {{"", kEmptySha}, {"abc", kAbcSha}, {std::string(1000000, 'a'), kMillionASha}};
    for (const Case& c : cases) {
        Sha256Digest digest{};
        ASSERT_TRUE(crypto.Sha256(c.bytes, digest)) << c.bytes.size();
        EXPECT_EQ(Sha256Hex(digest), c.sha) << c.bytes.size() << " bytes";
    }
}

class Sha256OfFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder = test::MakeTestFolder("qv-sha256"); }
    void TearDown() override {
        for (const std::string& f : made) DeleteFileW(FileApiPath(f).c_str());
        RemoveDirectoryW(FileApiPath(folder).c_str());
    }
    std::string Make(const std::string& name, const std::string& bytes) {
        const std::string path = folder + name;
        HANDLE h = CreateFileW(FileApiPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
        DWORD written = 0;
        if (!bytes.empty()) WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        CloseHandle(h);
        made.push_back(path);
        return path;
    }
    std::string folder;
    std::vector<std::string> made;
};

TEST_F(Sha256OfFileTest, ReadsWholeFilesOfAnySizeInPieces) {
    // Sizes around the 256 KiB pieces the files are read in.
    for (size_t size : {size_t(0), size_t(3), size_t(256 * 1024 - 1), size_t(256 * 1024), size_t(256 * 1024 + 1),
                        size_t(1000000)}) {
        std::string bytes(size, 'a');
        for (size_t i = 0; i < size; i += 4093) bytes[i] = static_cast<char>(i / 4093);
        std::optional<FileDigest> digest = Sha256OfFile(Make("f" + std::to_string(size) + ".bin", bytes));
        ASSERT_TRUE(digest) << size;
        Sha256Digest expected{};
        ASSERT_TRUE(BcryptUpgradeCrypto().Sha256(bytes, expected));
        EXPECT_EQ(digest->size, size);
        EXPECT_EQ(Sha256Hex(digest->sha256), Sha256Hex(expected)) << size;
    }
    std::optional<FileDigest> abc = Sha256OfFile(Make("abc.txt", "abc"));
    ASSERT_TRUE(abc);
    EXPECT_EQ(Sha256Hex(abc->sha256), kAbcSha);
    std::optional<FileDigest> million = Sha256OfFile(Make("million.txt", std::string(1000000, 'a')));
    ASSERT_TRUE(million);
    EXPECT_EQ(Sha256Hex(million->sha256), kMillionASha);
}

TEST_F(Sha256OfFileTest, ReachesNamesBeyondTheClassicPathLimitAndBig5Names) {
    const std::string longName = std::string(246, 'n') + ".dll";
    ASSERT_GE((folder + longName).size(), static_cast<size_t>(MAX_PATH));
    std::optional<FileDigest> digest = Sha256OfFile(Make(longName, "abc"));
    ASSERT_TRUE(digest);
    EXPECT_EQ(Sha256Hex(digest->sha256), kAbcSha);
    // 功能.dll: the second byte of 功 is a backslash.
    digest = Sha256OfFile(Make("\xa5\x5c\xaf\xe0.dll", "abc"));
    ASSERT_TRUE(digest);
    EXPECT_EQ(Sha256Hex(digest->sha256), kAbcSha);
}

TEST_F(Sha256OfFileTest, AFileOpenForWritingElsewhereIsRead) {
    const std::string path = Make("open.dat", "abc");
    HANDLE writer = CreateFileW(FileApiPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    std::optional<FileDigest> digest = Sha256OfFile(path);
    CloseHandle(writer);
    ASSERT_TRUE(digest);
    EXPECT_EQ(Sha256Hex(digest->sha256), kAbcSha);
}

TEST_F(Sha256OfFileTest, AMissingFileOrAFolderGivesNothingAndTheError) {
    DWORD error = 0;
    EXPECT_EQ(Sha256OfFile(folder + "missing.dat", &error), std::nullopt);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    error = 0;
    EXPECT_EQ(Sha256OfFile(folder + "no-folder\\x.dat", &error), std::nullopt);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    error = 0;
    EXPECT_EQ(Sha256OfFile(folder, &error), std::nullopt);
    EXPECT_NE(error, 0u);
}

TEST(LoadUpgradeSigningKey, TheBuiltInKeyVerifiesWhatTheToolSignedWithTheDemoKey) {
    std::optional<P256PublicKey> key = LoadUpgradeSigningKey();
    ASSERT_TRUE(key) << "no 64-byte UPGRADEKEY resource";
#ifndef QV_TEST_DEMO_SIGNING_KEY
    GTEST_SKIP() << "the build carries another key than the demo key (QUOTIVA_SIGNING_KEY)";
#endif
    std::string demo = test::ReadBytes(test::SignedPath("demo.key.bin")).value_or("");
    ASSERT_EQ(demo.size(), 64u);
    EXPECT_EQ(std::string(key->begin(), key->end()), demo);
    BcryptUpgradeCrypto crypto;
    ManifestCheck check =
        VerifyManifest(test::ReadBytes(test::SignedPath("good/upgrade.manifest")).value_or(""),
                       test::ReadBytes(test::SignedPath("good/upgrade.manifest.sig")).value_or(""), *key,
                       kUpgradeProduct, 0, crypto);
    EXPECT_EQ(check.verdict, ManifestVerdict::Ok) << check.reason;
}

}  // namespace
}  // namespace qv
