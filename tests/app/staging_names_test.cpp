// The names of the temporary files a download is received into (portable:
// runs natively and under Wine).
#include "app/staging_names.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(FolderOfPath, EverythingUpToTheLastSeparator) {
    struct Case {
        const char* path;
        const char* folder;
    };
    const Case cases[] = {
        {"D:\\Zentra\\main\\QVX.exe", "D:\\Zentra\\main\\"},
        {"D:\\Zentra\\main\\sub/new.dll", "D:\\Zentra\\main\\sub/"},
        {"D:\\Zentra\\main\\sub\\", "D:\\Zentra\\main\\sub\\"},
        {"QVX.exe", ""},
        {"", ""},
        // Big5 characters whose second byte is 0x5C ("\"): part of the name.
        {"D:\\Zentra\\main\\\xa5\x5c\xaf\xe0.dll", "D:\\Zentra\\main\\"},
        {"D:\\Zentra\\\xb3\x5c\\x.dll", "D:\\Zentra\\\xb3\x5c\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(FolderOfPath(c.path), c.folder) << c.path;
}

TEST(StagingFileName, AShortNameOfTheProgramsOwnInTheGivenFolder) {
    EXPECT_EQ(StagingFileName("D:\\Zentra\\main\\", 0x0BAD), "D:\\Zentra\\main\\~qv0BAD.tmp");
    EXPECT_EQ(StagingFileName("D:\\Zentra\\main\\sub/", 0xFFFF), "D:\\Zentra\\main\\sub/~qvFFFF.tmp");
    EXPECT_EQ(StagingFileName("", 0), "~qv0000.tmp");
    // Whatever the number, the name has the form a clean-up recognises.
    for (unsigned n : {0u, 1u, 0x10u, 0xABCu, 0x8000u, 0xFFFFu})
        EXPECT_TRUE(IsStagingFileName(StagingFileName("", static_cast<uint16_t>(n)))) << n;
}

TEST(IsStagingFileName, ExactlyThePrefixFourHexDigitsAndTheExtension) {
    struct Case {
        const char* name;
        bool staging;
    };
    const Case cases[] = {
        {"~qv0BAD.tmp", true},   {"~QV00ff.TMP", true},    {"~qvffff.Tmp", true},
        {"~qvBAD.tmp", false},   {"~qv0BADD.tmp", false},  {"~qv0BAG.tmp", false},
        {"x~qv0BAD.tmp", false}, {"~qv0BAD.tmp.keep", false}, {"~qv0BAD.tm", false},
        {"qv0BAD.tmp", false},   {"~qv 0BA.tmp", false},   {"", false},
        {"~qv0BAD_tmp", false},  {"QVX.exe", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsStagingFileName(c.name), c.staging) << c.name;
}

}  // namespace
}  // namespace qv
