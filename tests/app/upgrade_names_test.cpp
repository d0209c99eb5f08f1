// Names taken from a names-only listing (portable: runs natively and under
// Wine).
#include "app/upgrade_names.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(TrimListingLine, TakesOnlyBlanksTabsAndLineEndsOffBothEnds) {
    struct Case {
        const char* line;
        const char* name;
    };
    const Case cases[] = {
        {"QVX.exe", "QVX.exe"},
        {"QVX.exe  \t", "QVX.exe"},
        {"QVX.exe\r\n", "QVX.exe"},
        {"\t \r\nQVX.exe \r", "QVX.exe"},
        {"new data.dat", "new data.dat"},       // blanks inside stay
        {"  \t  ", ""},
        {"", ""},
        {"\vQVX.exe\f", "\vQVX.exe\f"},         // other control characters stay
        {"\xa4U\xb8\xfc.txt ", "\xa4U\xb8\xfc.txt"},  // Big5 bytes pass through
    };
    for (const Case& c : cases) EXPECT_EQ(TrimListingLine(c.line), c.name) << "line: " << c.line;
}

TEST(NamesFromListing, SkipsEmptyLinesAndTheTwoFolderNamesAndKeepsTheOrder) {
    const std::vector<std::string> lines = {".", "..", "QVX.exe  ", "", "  \t", " . ", "data\\q.dat\r",
                                            "...", ".hidden", "sub/new.dll", "..\t"};
    EXPECT_EQ(NamesFromListing(lines),
              (std::vector<std::string>{"QVX.exe", "data\\q.dat", "...", ".hidden", "sub/new.dll"}));
}

TEST(NamesFromListing, AListingOfOnlyFolderNamesAndBlanksGivesNothing) {
    EXPECT_TRUE(NamesFromListing({".", "..", "   ", ""}).empty());
    EXPECT_TRUE(NamesFromListing({}).empty());
}

TEST(NamesFromListing, NamesThatWouldLeaveTheInstallationFolderAreLeftOut) {
    struct Case {
        const char* name;
        bool inside;
    } cases[] = {
        {"QVX.exe", true},          {"sub/new.dll", true},        {"sub\\new.dll", true},
        {"a..b", true},             {"..hidden", true},           {"./QVX.exe", true},
        {"../QVX.exe", false},      {"..\\QVX.exe", false},      {"sub/../../x", false},
        {"sub\\..", false},         {"\\Windows\\x.dll", false}, {"/etc/x", false},
        {"C:x.dll", false},         {"D:\\x.dll", false},         {"QVX.exe:stream", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StaysInsideInstallFolder(c.name), c.inside) << c.name;
        EXPECT_EQ(NamesFromListing({c.name}).size(), c.inside ? 1u : 0u) << c.name;
    }
}

TEST(NamesFromListing, NamesWithAZeroByteAreLeftOut) {
    // A file API would read "..", "NUL" and "QVX.exe" out of these.
    using namespace std::string_literals;
    for (const std::string& name : {"..\0x"s, "NUL\0.dat"s, "QVX.exe\0"s, "sub/..\0/QVX.exe"s})
        EXPECT_TRUE(NamesFromListing({name}).empty()) << name.size();
}

TEST(NamesFromListing, NamesOfDevicesAreLeftOutInAnyPartAndCase) {
    struct Case {
        const char* name;
        bool device;
    } cases[] = {
        {"NUL", true},            {"nul", true},            {"con", true},           {"PRN", true},
        {"Aux", true},            {"COM1", true},           {"com9.dll", true},      {"LPT1", true},
        {"lpt9.txt", true},       {"COM0", true},           {"CONIN$", true},        {"conout$.log", true},
        {"NUL.txt", true},        {"nul.tar.gz", true},     {"NUL..x", true},        {"nul .txt", true},
        {"sub/aux.txt", true},    {"con\\QVX.exe", true},  {"sub\\Com1\\x", true},  {"a/b/NUL", true},
        {"NULL", false},          {"nul1", false},          {"xnul", false},         {"CON_", false},
        {"COM", false},           {"COM10", false},         {"LPT", false},          {"comA.dll", false},
        {"CONIN", false},         {"a.nul", false},         {"sub/console.dat", false}, {"QVX.exe", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NamesDevice(c.name), c.device) << c.name;
        EXPECT_EQ(NamesFromListing({c.name}).size(), c.device ? 0u : 1u) << c.name;
    }
}

TEST(IsFolderDotName, OnlyTheExactNames) {
    EXPECT_TRUE(IsFolderDotName("."));
    EXPECT_TRUE(IsFolderDotName(".."));
    EXPECT_FALSE(IsFolderDotName("..."));
    EXPECT_FALSE(IsFolderDotName(".a"));
    EXPECT_FALSE(IsFolderDotName(""));
}

}  // namespace
}  // namespace qv
