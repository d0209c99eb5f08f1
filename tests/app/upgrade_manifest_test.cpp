// The upgrade manifest's reader and printer (portable: natively and under
// Wine).
#include "app/upgrade_manifest.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using namespace std::string_literals;

const std::string kHash = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kHead = "quotiva-upgrade-manifest 1\nproduct Quotiva\nversion 7\n";

std::string FileLine(const std::string& name, const std::string& size = "1") {
    return "file " + size + " " + kHash + " " + name + "\n";
}

TEST(ParseManifest, ReadsProductVersionAndFilesInOrder) {
    const std::string text = kHead + "file 3145728 " + kHash + " QVX.exe\n" +
                             "file 0 0000000000000000000000000000000000000000000000000000000000000001 new data.dat\n" +
                             "file 9223372036854775807 " + kHash + " \xa4U\xb8\xfc.txt\n";
    ManifestParse p = ParseManifest(text);
    ASSERT_TRUE(p.ok) << p.reason;
    EXPECT_EQ(p.manifest.product, "Quotiva");
    EXPECT_EQ(p.manifest.version, 7u);
    ASSERT_EQ(p.manifest.files.size(), 3u);
    EXPECT_EQ(p.manifest.files[0].name, "QVX.exe");
    EXPECT_EQ(p.manifest.files[0].size, 3145728u);
    EXPECT_EQ(Sha256Hex(p.manifest.files[0].sha256), kHash);
    EXPECT_EQ(p.manifest.files[1].name, "new data.dat");
    EXPECT_EQ(p.manifest.files[1].size, 0u);
    EXPECT_EQ(p.manifest.files[1].sha256[31], 1);
    EXPECT_EQ(p.manifest.files[1].sha256[0], 0);
    EXPECT_EQ(p.manifest.files[2].name, "\xa4U\xb8\xfc.txt");
    EXPECT_EQ(p.manifest.files[2].size, 9223372036854775807u);
    EXPECT_EQ(p.manifest.Find("QVX.exe"), &p.manifest.files[0]);
    EXPECT_EQ(p.manifest.Find("qvx.exe"), nullptr) << "a server serves the name it lists, byte for byte";
    EXPECT_EQ(PrintManifest(p.manifest), text);
}

TEST(ParseManifest, CrLfAndLfLineEndsReadTheSame) {
    const std::string lf = kHead + FileLine("QVX.exe") + FileLine("qvxchart.dll");
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? "\r\n"s : std::string(1, c);
    std::string mixed = lf;
    mixed.insert(mixed.find("\nversion"), "\r");
    for (const std::string& text : {crlf, mixed}) {
        ManifestParse p = ParseManifest(text);
        ASSERT_TRUE(p.ok) << p.reason;
        EXPECT_EQ(p.manifest, ParseManifest(lf).manifest);
        EXPECT_EQ(PrintManifest(p.manifest), lf);
    }
}

TEST(ParseManifest, VersionsFromOneToTheLargestSigned64BitNumber) {
    for (const char* version : {"1", "10", "9223372036854775807"}) {
        ManifestParse p = ParseManifest("quotiva-upgrade-manifest 1\nproduct Quotiva\nversion "s + version + "\n" +
                                        FileLine("a.dat"));
        ASSERT_TRUE(p.ok) << version << ": " << p.reason;
        EXPECT_EQ(std::to_string(p.manifest.version), version);
    }
}

TEST(ParseManifest, NamesThatAreDifferentFilesOnWindowsAreKept) {
    // Second bytes of Big5 characters that read as ASCII letters are not
    // letters: \xa4a and \xa4A are two characters (two files).
    const std::string text = kHead + FileLine("\xa4" "a.dat") + FileLine("\xa4" "A.dat") + FileLine("a.dat") +
                             FileLine("a.dat.bak") + FileLine("\xa5\\.dll") + FileLine("\xa5\\\xaf\xe0.dll");
    ManifestParse p = ParseManifest(text);
    ASSERT_TRUE(p.ok) << p.reason;
    EXPECT_EQ(p.manifest.files.size(), 6u);
}

TEST(ParseManifest, ARejectedManifestSaysWhereAndWhy) {
    const std::string head2 = "quotiva-upgrade-manifest 1\nproduct Quotiva\n";
    struct Case {
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"", "the manifest is empty"},
        {kHead + "file 1 " + kHash + " a.dat", "the last line has no line end"},
        {"quotiva-upgrade-manifest 2\nproduct Quotiva\nversion 7\n" + FileLine("a"), "line 1: a manifest format"},
        {"quotiva-upgrade-manifest 1 \nproduct Quotiva\nversion 7\n" + FileLine("a"), "line 1: a manifest format"},
        {"Quotiva-upgrade-manifest 1\nproduct Quotiva\nversion 7\n" + FileLine("a"), "line 1: not an upgrade"},
        {"\xef\xbb\xbfquotiva-upgrade-manifest 1\nproduct Quotiva\nversion 7\n" + FileLine("a"), "line 1: not an"},
        {"quotiva-upgrade-manifest 1\rproduct Quotiva\rversion 7\r" + FileLine("a"), "line 1: a manifest format"},
        {"quotiva-upgrade-manifest 1\n", "the product is missing"},
        {"quotiva-upgrade-manifest 1\n\nproduct Quotiva\nversion 7\n" + FileLine("a"), "line 2: the product is missing"},
        {"quotiva-upgrade-manifest 1\nversion 7\nproduct Quotiva\n" + FileLine("a"), "line 2: the product is missing"},
        {"quotiva-upgrade-manifest 1\nproduct\nversion 7\n" + FileLine("a"), "line 2: the product is missing"},
        {"quotiva-upgrade-manifest 1\nproduct \nversion 7\n" + FileLine("a"), "line 2: the product is not"},
        {"quotiva-upgrade-manifest 1\nproduct  Quotiva\nversion 7\n" + FileLine("a"), "line 2: the product is not"},
        {"quotiva-upgrade-manifest 1\nproduct Quotiva \nversion 7\n" + FileLine("a"), "line 2: the product is not"},
        {"quotiva-upgrade-manifest 1\nproduct Quotiva\r\r\nversion 7\n" + FileLine("a"), "line 2: the product is not"},
        {"quotiva-upgrade-manifest 1\nproduct Quo\ttiva\nversion 7\n" + FileLine("a"), "line 2: the product is not"},
        {head2, "the version is missing"},
        {head2 + FileLine("a"), "line 3: the version is missing"},
        {head2 + "Version 7\n" + FileLine("a"), "line 3: the version is missing"},
        {head2 + "version 0\n" + FileLine("a"), "line 3: the version is not"},
        {head2 + "version 07\n" + FileLine("a"), "line 3: the version is not"},
        {head2 + "version -7\n" + FileLine("a"), "line 3: the version is not"},
        {head2 + "version +7\n" + FileLine("a"), "line 3: the version is not"},
        {head2 + "version  7\n" + FileLine("a"), "line 3: the version is not"},
        {head2 + "version 7 \n" + FileLine("a"), "line 3: the version is not"},
        {head2 + "version 0x10\n" + FileLine("a"), "line 3: the version is not"},
        {head2 + "version 9223372036854775808\n" + FileLine("a"), "line 3: the version is not"},
        {head2 + "version 18446744073709551617\n" + FileLine("a"), "line 3: the version is not"},
        {head2 + "version \n" + FileLine("a"), "line 3: the version is not"},
        {kHead, "the manifest names no file"},
        {kHead + FileLine("a") + "product Quotiva\n", "line 5: a second product"},
        {kHead + FileLine("a") + "version 8\n", "line 5: a second version"},
        {kHead + "\n" + FileLine("a"), "line 4: not a file line"},
        {kHead + "signature 3045\n", "line 4: not a file line"},
        {kHead + "File 1 " + kHash + " a\n", "line 4: not a file line"},
        {kHead + " file 1 " + kHash + " a\n", "line 4: not a file line"},
        {kHead + "file\n", "line 4: not a file line"},
        {kHead + "file 1\n", "line 4: the file line is incomplete"},
        {kHead + FileLine("a", "-1"), "line 4: the size is not"},
        {kHead + FileLine("a", "01"), "line 4: the size is not"},
        {kHead + FileLine("a", "1.0"), "line 4: the size is not"},
        {kHead + FileLine("a", "9223372036854775808"), "line 4: the size is not"},
        {kHead + FileLine("a", ""), "line 4: the size is not"},
        {kHead + "file 1 " + kHash.substr(1) + " a\n", "line 4: the SHA-256 is not"},
        {kHead + "file 1 " + kHash + "0 a\n", "line 4: the SHA-256 is not"},
        {kHead + "file 1 " + kHash + "\n", "line 4: the SHA-256 is not"},
        {kHead + "file 1 E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855 a\n", "line 4: the SHA-256"},
        {kHead + "file 1 g3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 a\n", "line 4: the SHA-256"},
        {kHead + "file 1 " + kHash + "\ta\n", "line 4: the SHA-256 is not"},
        {kHead + "file 1 " + kHash + " \n", "line 4: no file name"},
        {kHead + FileLine(" a"), "line 4: a blank at the start"},
        {kHead + FileLine("a\rb"), "line 4: a control character"},
        {kHead + FileLine("a"s + '\0' + "b"), "line 4: a zero byte"},
        {kHead + FileLine("NUL"), "line 4: a name that Windows takes for a device"},
        {kHead + FileLine("../QVX.exe"), "line 4: a folder in the name"},
        {kHead + FileLine("C:QVX.exe"), "line 4: a drive or stream colon"},
        {kHead + FileLine(".."), "line 4: a dot at the end"},
        {kHead + FileLine("upgrade.manifest"), "line 4: the name of a manifest file"},
        {kHead + FileLine("QVX.exe") + FileLine("a") + FileLine("qvx.EXE"),
         "line 6: the name is one file on Windows with the name on line 4"},
        {kHead + FileLine("a") + FileLine("b") + FileLine("c") + "file 1 " + kHash.substr(0, 63) + "x c\n",
         "line 7: the SHA-256 is not"},
    };
    for (const Case& c : cases) {
        ManifestParse p = ParseManifest(c.text);
        EXPECT_FALSE(p.ok) << c.text;
        EXPECT_EQ(p.reason.rfind(c.reason, 0), 0u) << "reason: " << p.reason << "\nexpected: " << c.reason;
        EXPECT_EQ(p.manifest, UpgradeManifest{}) << "nothing of a rejected manifest is kept";
    }
}

TEST(ParseManifest, AManifestOverOneMebibyteIsRefusedWhateverItHolds) {
    std::string text = kHead;
    for (int i = 0; text.size() <= kManifestMaxBytes; ++i) text += FileLine("f" + std::to_string(i) + ".dat");
    ManifestParse p = ParseManifest(text);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.reason, "the manifest has " + std::to_string(text.size()) + " bytes, more than 1048576");
    // Up to the bound it is read.
    while (text.size() > kManifestMaxBytes) text.erase(text.rfind("file ", text.size() - 2));
    EXPECT_TRUE(ParseManifest(text).ok);
}

TEST(ManifestNameProblem, RefusesWhatTheListingLeavesOutAndWhatWindowsCannotHold) {
    struct Case {
        std::string name;
        const char* problem;  // nullptr: taken
    };
    const Case cases[] = {
        {"QVX.exe", nullptr},
        {"new data.dat", nullptr},
        {".hidden", nullptr},
        {"a..b", nullptr},
        {"\xa4U\xb8\xfc.txt", nullptr},
        {"\xa5\\\xaf\xe0.dll", nullptr},  // the second byte of the first character is "\"
        {"\x81\x40.dat", nullptr},        // user-defined area of code page 950
        {"~qv123.tmp", nullptr},
        {"", "no file name"},
        {" a", "a blank at the start of the name"},
        {"\ta", "a blank at the start of the name"},
        {"a ", "a blank at the end of the name"},
        {"a\t", "a blank at the end of the name"},
        {"a.", "a dot at the end of the name"},
        {".", "a dot at the end of the name"},
        {"..", "a dot at the end of the name"},
        {"a"s + '\0', "a zero byte in the name"},
        {"a\nb", "a control character in the name"},
        {"a\x7f", "a control character in the name"},
        {"C:a", "a drive or stream colon in the name"},
        {"a:stream", "a drive or stream colon in the name"},
        {"\\a", "a folder in the name"},
        {"/a", "a folder in the name"},
        {"sub/a.dll", "a folder in the name"},
        {"..\\a", "a folder in the name"},
        {"a<b", "a character that Windows refuses in a file name"},
        {"a*", "a character that Windows refuses in a file name"},
        {"\x80.dat", "bytes that are no text of code page 950 in the name"},
        {"\xff.dat", "bytes that are no text of code page 950 in the name"},
        {"a\xa4", "bytes that are no text of code page 950 in the name"},
        {"\xa4\x30.dat", "bytes that are no text of code page 950 in the name"},
        {"\xa4\x7f.dat", "bytes that are no text of code page 950 in the name"},
        {"NUL", "a name that Windows takes for a device"},
        {"com9.dll", "a name that Windows takes for a device"},
        {"Lpt1 .txt", "a name that Windows takes for a device"},
        {"CONIN$", "a name that Windows takes for a device"},
        // The listing takes the "\" byte of 功 for a separator and leaves
        // the name out as naming NUL: the manifest cannot name it either.
        {"\xa5\\NUL", "a name that Windows takes for a device"},
        {"\xa5\\..", "a dot at the end of the name"},
        {"~qv0a1B.TMP", "a name of the program's temporary files"},
        {"upgrade.manifest", "the name of a manifest file"},
        {"UPGRADE.Manifest.sig", "the name of a manifest file"},
    };
    for (const Case& c : cases) {
        std::optional<std::string> problem = ManifestNameProblem(c.name);
        if (c.problem) {
            EXPECT_EQ(problem.value_or("taken"), c.problem) << c.name;
        } else {
            EXPECT_EQ(problem, std::nullopt) << c.name;
        }
    }
}

TEST(ParseManifest, TwoNamesOfOneFileAreFoundWithTheFoldGiven) {
    const std::string fullWidthQ = kHead + FileLine("\xa2\xdf.dll") + FileLine("\xa2\xf9.dll");  // Q and q
    // The portable fold knows ASCII letters only.
    EXPECT_TRUE(ParseManifest(fullWidthQ).ok);
    // A fold that knows the full-width letters finds them; so does the
    // system's (the names table of manifest_verify_test.cpp).
    auto fullWidthFold = [](std::string_view name) {
        std::string key = FoldAsciiLetters(name);
        if (key.size() >= 2 && key.compare(0, 2, "\xa2\xf9") == 0) key[1] = '\xdf';
        return key;
    };
    ManifestParse p = ParseManifest(fullWidthQ, fullWidthFold);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.reason, "line 5: the name is one file on Windows with the name on line 4");
    // Trailing dots and blanks are refused before any fold; case is folded.
    EXPECT_FALSE(ParseManifest(kHead + FileLine("QVX.exe") + FileLine("qvx.EXE")).ok);
}

TEST(Sha256Hex, LowerCaseDigitsBothWays) {
    std::optional<Sha256Digest> digest = Sha256FromHex(kHash);
    ASSERT_TRUE(digest);
    EXPECT_EQ((*digest)[0], 0xe3);
    EXPECT_EQ((*digest)[31], 0x55);
    EXPECT_EQ(Sha256Hex(*digest), kHash);
    for (const std::string& bad : {kHash.substr(1), kHash + "0", "E" + kHash.substr(1), " " + kHash.substr(1),
                                   kHash.substr(0, 63) + "g"})
        EXPECT_EQ(Sha256FromHex(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace qv
