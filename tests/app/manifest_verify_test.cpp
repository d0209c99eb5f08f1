// The decision on a signed upgrade, with this build's real crypto (bcrypt.dll
// under Wine, OpenSSL's libcrypto natively) against folders that the
// publisher's tool signed for this run (make_signed_folders.sh): the tool
// and the program are tested against each other.
#include "app/manifest_verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <vector>

#include "tests/app/verify_test_support.h"

namespace qv {
namespace {

using test::ReadBytes;
using test::SignedPath;

struct Signed {
    std::string manifest;
    std::string signature;
};

Signed SignedFolder(const std::string& folder) {
    return {ReadBytes(SignedPath(folder + "/upgrade.manifest")).value_or("<missing>"),
            ReadBytes(SignedPath(folder + "/upgrade.manifest.sig")).value_or("<missing>")};
}

P256PublicKey KeyFile(const std::string& name) {
    std::string bytes = ReadBytes(SignedPath(name)).value_or("");
    P256PublicKey key{};
    EXPECT_EQ(bytes.size(), key.size()) << name;
    std::memcpy(key.data(), bytes.data(), std::min(bytes.size(), key.size()));
    return key;
}

class VerifyManifestTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ReadBytes(SignedPath("good/upgrade.manifest")))
            << "no signed folders at " << SignedPath("") << " (the app_signed_folders fixture makes them)";
    }
    ManifestCheck Verify(const Signed& s, const P256PublicKey& key, uint64_t installed = 0,
                         std::string_view product = kUpgradeProduct) {
        return VerifyManifest(s.manifest, s.signature, key, product, installed, *crypto);
    }
    std::unique_ptr<UpgradeCrypto> crypto = test::MakeUpgradeCrypto();
    const P256PublicKey demoKey = KeyFile("demo.key.bin");
    const P256PublicKey otherKey = KeyFile("other.key.bin");
    const Signed good = SignedFolder("good");
};

// The names the tool wrote, as the listing gives them.
const std::vector<std::string> kGoodNames = {"QVX.exe", "empty.dat", "new data.dat", "qvxchart.dll",
                                             "\xa4U\xb8\xfc.txt", "\xa5\\.dll"};

bool IsAscii(const std::string& name) {
    return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

TEST_F(VerifyManifestTest, TheToolsSignedFolderVerifiesAndNamesEveryFileWithItsSizeAndHash) {
    ManifestCheck check = Verify(good, demoKey);
    ASSERT_EQ(check.verdict, ManifestVerdict::Ok) << check.reason;
    EXPECT_EQ(check.reason, "");
    EXPECT_EQ(check.manifest.product, "Quotiva");
    EXPECT_EQ(check.manifest.version, 5u);
    std::vector<std::string> names;
    for (const ManifestFile& f : check.manifest.files) names.push_back(f.name);
    std::vector<std::string> expected = kGoodNames;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected) << "every regular file but the manifest's own two, in byte order";
    for (const ManifestFile& f : check.manifest.files) {
        // Under Wine a file is reached by its name converted to UTF-16 and
        // back to UTF-8 on the Unix side, which Big5 bytes on disk are not.
        if (!IsAscii(f.name)) continue;
        std::optional<FileDigest> digest = test::DigestOfFile(SignedPath("good/" + f.name));
        ASSERT_TRUE(digest) << f.name;
        EXPECT_TRUE(FileMatchesManifest(f, *digest)) << f.name << ": " << digest->size << " bytes, "
                                                      << Sha256Hex(digest->sha256);
    }
    EXPECT_EQ(check.manifest.Find("QVX.exe")->size, 300007u);
    EXPECT_EQ(check.manifest.Find("empty.dat")->size, 0u);
}

TEST_F(VerifyManifestTest, AnyChangedByteOfTheManifestBreaksTheSignature) {
    for (size_t i = 0; i < good.manifest.size(); ++i) {
        Signed s = good;
        s.manifest[i] = static_cast<char>(s.manifest[i] ^ 0x01);
        ManifestCheck check = Verify(s, demoKey);
        EXPECT_EQ(check.verdict, ManifestVerdict::BadSignature) << "byte " << i;
        EXPECT_EQ(check.manifest, UpgradeManifest{}) << "byte " << i;
    }
    struct Case {
        const char* what;
        std::function<void(std::string&)> edit;
    };
    const Case cases[] = {
        {"a byte appended", [](std::string& m) { m += "\n"; }},
        {"the last byte removed", [](std::string& m) { m.pop_back(); }},
        {"a file line removed", [](std::string& m) { m.erase(m.find("file "), m.find('\n', m.find("file ")) + 1 - m.find("file ")); }},
        {"CR LF line ends (the same text)",
         [](std::string& m) {
             std::string out;
             for (char c : m) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
             m = out;
         }},
        {"a newer version", [](std::string& m) { m.replace(m.find("version 5"), 9, "version 6"); }},
    };
    for (const Case& c : cases) {
        Signed s = good;
        c.edit(s.manifest);
        ASSERT_NE(s.manifest, good.manifest) << c.what;
        EXPECT_EQ(Verify(s, demoKey).verdict, ManifestVerdict::BadSignature) << c.what;
    }
}

TEST_F(VerifyManifestTest, AnyChangedOrMissingByteOfTheSignatureIsRefused) {
    for (size_t i = 0; i < good.signature.size(); ++i) {
        for (uint8_t flip : {0x01, 0x80}) {
            Signed s = good;
            s.signature[i] = static_cast<char>(s.signature[i] ^ flip);
            EXPECT_EQ(Verify(s, demoKey).verdict, ManifestVerdict::BadSignature) << "byte " << i << " ^ " << int(flip);
        }
    }
    for (size_t length = 0; length < good.signature.size(); ++length) {
        Signed s = good;
        s.signature.resize(length);
        ManifestCheck check = Verify(s, demoKey);
        EXPECT_EQ(check.verdict, ManifestVerdict::BadSignature) << "cut to " << length << " bytes";
        EXPECT_EQ(check.reason.rfind("the signature is unreadable: ", 0), 0u) << check.reason;
    }
    Signed appended = good;
    appended.signature += '\0';
    EXPECT_EQ(Verify(appended, demoKey).verdict, ManifestVerdict::BadSignature);
    // A real signature of the same key, over another manifest.
    Signed swapped = good;
    swapped.signature = SignedFolder("product").signature;
    ManifestCheck check = Verify(swapped, demoKey);
    EXPECT_EQ(check.verdict, ManifestVerdict::BadSignature);
    EXPECT_EQ(check.reason, "the signature is not the publisher's for this manifest");
}

TEST_F(VerifyManifestTest, OnlyTheKeyThatSignedVerifies) {
    const Signed other = SignedFolder("other-key");
    EXPECT_EQ(Verify(other, demoKey).verdict, ManifestVerdict::BadSignature);
    EXPECT_EQ(Verify(good, otherKey).verdict, ManifestVerdict::BadSignature);
    ManifestCheck check = Verify(other, otherKey);
    EXPECT_EQ(check.verdict, ManifestVerdict::Ok) << check.reason;
    // Keys that are no point of the curve verify nothing.
    P256PublicKey zero{};
    P256PublicKey offCurve = demoKey;
    offCurve[63] ^= 1;
    EXPECT_EQ(Verify(good, zero).verdict, ManifestVerdict::BadSignature);
    EXPECT_EQ(Verify(good, offCurve).verdict, ManifestVerdict::BadSignature);
}

TEST_F(VerifyManifestTest, AnOlderVersionThanTheInstalledOneIsRefusedTheSameIsNot) {
    struct Case {
        uint64_t installed;
        ManifestVerdict verdict;
    };
    const Case cases[] = {
        {0, ManifestVerdict::Ok},
        {1, ManifestVerdict::Ok},
        {4, ManifestVerdict::Ok},
        {5, ManifestVerdict::Ok},  // a run after an interrupted upgrade
        {6, ManifestVerdict::OlderVersion},
        {std::numeric_limits<uint64_t>::max(), ManifestVerdict::OlderVersion},
    };
    for (const Case& c : cases) {
        ManifestCheck check = Verify(good, demoKey, c.installed);
        EXPECT_EQ(check.verdict, c.verdict) << "installed " << c.installed << ": " << check.reason;
        EXPECT_EQ(check.manifest.version, 5u) << "installed " << c.installed;
    }
    EXPECT_EQ(Verify(good, demoKey, 6).reason, "version 5 is older than the installed version 6");
}

TEST_F(VerifyManifestTest, AManifestForAnotherProductIsRefused) {
    ManifestCheck check = Verify(SignedFolder("product"), demoKey);
    EXPECT_EQ(check.verdict, ManifestVerdict::WrongProduct);
    EXPECT_EQ(check.reason, "the upgrade is for the product Quotiva-Lite");
    EXPECT_EQ(check.manifest.product, "Quotiva-Lite");
    EXPECT_EQ(Verify(good, demoKey, 0, "Quotiva-Lite").verdict, ManifestVerdict::WrongProduct);
}

TEST_F(VerifyManifestTest, SignedManifestsThatAreNotWellFormedAreRefusedWithTheReason) {
    struct Case {
        const char* name;
        const char* reason;
    };
    const Case cases[] = {
        {"one-file-twice", "line 5: the name is one file on Windows with the name on line 4"},
        {"no-file", "the manifest names no file"},
        {"format-2", "line 1: a manifest format this program does not know"},
        {"device", "line 4: a name that Windows takes for a device"},
        {"over-1-MiB", "the manifest has more than 1048576 bytes"},
    };
    for (const Case& c : cases) {
        Signed s{ReadBytes(SignedPath(std::string("malformed/") + c.name + ".manifest")).value_or(""),
                 ReadBytes(SignedPath(std::string("malformed/") + c.name + ".sig")).value_or("")};
        ASSERT_FALSE(s.manifest.empty()) << c.name;
        ManifestCheck check = Verify(s, demoKey);
        EXPECT_EQ(check.verdict, ManifestVerdict::Malformed) << c.name << ": " << check.reason;
        EXPECT_EQ(check.reason, c.reason) << c.name;
        EXPECT_EQ(check.manifest, UpgradeManifest{}) << c.name;
        // Signed by another key, the same text is refused for that first.
        if (s.manifest.size() <= kManifestMaxBytes) {
            EXPECT_EQ(Verify(s, otherKey).verdict, ManifestVerdict::BadSignature) << c.name;
        }
    }
}

TEST_F(VerifyManifestTest, AChangedByteOrLengthOfAFileIsFoundByItsSizeAndHash) {
    ManifestCheck check = Verify(good, demoKey);
    ASSERT_EQ(check.verdict, ManifestVerdict::Ok) << check.reason;
    const ManifestFile& entry = *check.manifest.Find("QVX.exe");
    const std::string original = ReadBytes(SignedPath("good/QVX.exe")).value_or("");
    ASSERT_EQ(original.size(), 300007u);
    struct Case {
        const char* what;
        std::function<void(std::string&)> edit;
        bool matches;
    };
    const Case cases[] = {
        {"unchanged", [](std::string&) {}, true},
        {"first byte", [](std::string& b) { b[0] ^= 1; }, false},
        {"last byte of the first read", [](std::string& b) { b[256 * 1024 - 1] ^= 1; }, false},
        {"first byte of the second read", [](std::string& b) { b[256 * 1024] ^= 1; }, false},
        {"last byte", [](std::string& b) { b.back() ^= 0x80; }, false},
        {"a byte appended", [](std::string& b) { b += '\0'; }, false},
        {"the last byte removed", [](std::string& b) { b.pop_back(); }, false},
        {"empty", [](std::string& b) { b.clear(); }, false},
    };
    for (const Case& c : cases) {
        std::string bytes = original;
        c.edit(bytes);
        const std::string path = SignedPath("tampered-QVX.exe");
        ASSERT_TRUE(test::WriteBytes(path, bytes)) << c.what;
        std::optional<FileDigest> digest = test::DigestOfFile(path);
        ASSERT_TRUE(digest) << c.what;
        EXPECT_EQ(digest->size, bytes.size()) << c.what;
        EXPECT_EQ(FileMatchesManifest(entry, *digest), c.matches) << c.what;
    }
    // The right bytes under another file's entry do not match either.
    std::optional<FileDigest> digest = test::DigestOfFile(SignedPath("good/QVX.exe"));
    ASSERT_TRUE(digest);
    EXPECT_FALSE(FileMatchesManifest(*check.manifest.Find("qvxchart.dll"), *digest));
}

// manifest_names.txt, its escapes read.
struct NamesFolder {
    bool ok = false;
    std::vector<std::string> names;
};

std::vector<NamesFolder> NamesTable() {
    std::vector<NamesFolder> table;
    std::istringstream in(ReadBytes(test::SourcePath("tests/app/manifest_names.txt")).value_or(""));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        NamesFolder folder;
        std::vector<std::string> fields(1);
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\t') {
                if (!fields.back().empty()) fields.emplace_back();
            } else if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '\\') {
                fields.back() += '\\';
                ++i;
            } else if (line[i] == '\\' && i + 3 < line.size() && line[i + 1] == 'x') {
                fields.back() += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else {
                fields.back() += line[i];
            }
        }
        folder.ok = fields[0] == "ok";
        EXPECT_TRUE(fields[0] == "ok" || fields[0] == "refused") << line;
        folder.names.assign(fields.begin() + 1, fields.end());
        table.push_back(folder);
    }
    return table;
}

TEST_F(VerifyManifestTest, TheToolAndTheProgramTakeAndRefuseTheSameNames) {
    const std::vector<NamesFolder> table = NamesTable();
    ASSERT_GT(table.size(), 20u) << "manifest_names.txt not read";
    std::map<size_t, std::string> toolVerdicts;
    std::istringstream verdicts(ReadBytes(SignedPath("names/verdicts.txt")).value_or(""));
    size_t number = 0;
    std::string verdict;
    while (verdicts >> number >> verdict) toolVerdicts[number] = verdict;
    ASSERT_EQ(toolVerdicts.size(), table.size());

    for (size_t i = 0; i < table.size(); ++i) {
        const NamesFolder& folder = table[i];
        std::string shown;
        for (const std::string& n : folder.names) shown += "[" + n + "] ";
        // The program's verdict: a manifest naming the folder's files.
        std::string text = "quotiva-upgrade-manifest 1\nproduct Quotiva\nversion 1\n";
        for (const std::string& n : folder.names)
            text += "file 1 2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881 " + n + "\n";
        ManifestParse parsed = ParseManifest(text, test::BuildNameFold);
        EXPECT_EQ(parsed.ok, folder.ok) << shown << parsed.reason;
        EXPECT_EQ(toolVerdicts[i + 1], folder.ok ? "ok" : "refused") << "sign-upgrade on " << shown;
        if (!folder.ok) continue;
        // What the tool signed, the program verifies, with the folder's names.
        const Signed s = SignedFolder("names/" + std::to_string(i + 1));
        ManifestCheck check =
            VerifyManifest(s.manifest, s.signature, demoKey, kUpgradeProduct, 0, *crypto, test::BuildNameFold);
        ASSERT_EQ(check.verdict, ManifestVerdict::Ok) << shown << check.reason;
        std::vector<std::string> names;
        for (const ManifestFile& f : check.manifest.files) {
            names.push_back(f.name);
            EXPECT_EQ(f.size, 1u) << f.name;
            EXPECT_EQ(Sha256Hex(f.sha256), "2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881");
        }
        std::vector<std::string> expected = folder.names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected) << shown;
    }
}

}  // namespace
}  // namespace qv
