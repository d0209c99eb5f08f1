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
                                            "a...b", ".hidden", "sub/new.dll", "..\t"};
    EXPECT_EQ(NamesFromListing(lines),
              (std::vector<std::string>{"QVX.exe", "data\\q.dat", "a...b", ".hidden", "sub/new.dll"}));
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

TEST(NamesFromListing, NamesWindowsWouldChangeAreLeftOut) {
    // Windows drops the dots and blanks at the end of every part: the file
    // written would not be the one named.
    struct Case {
        const char* name;
        bool changes;
    } cases[] = {
        {"QVX.exe.", true},   {"QVX.exe..", true}, {"...", true},         {"sub./x.dll", true},
        {"sub /x.dll", true}, {"a\\b .\\c", true}, {"QVX.exe", false},    {"a...b", false},
        {".hidden", false},   {"./QVX.exe", false}, {"sub/./x.dll", false}, {"new data.dat", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowsChangesName(c.name), c.changes) << c.name;
        EXPECT_EQ(NamesFromListing({c.name}).size(), c.changes ? 0u : 1u) << c.name;
    }
}

TEST(NamesFromListing, NamesThatAreOneFileOnWindowsAreDownloadedOnceUnderTheFirst) {
    std::vector<std::string> duplicates;
    const std::vector<std::string> names = NamesFromListing(
        {"QVX.exe", "qvxchart.dll", "qvx.EXE", "QVX.exe.", "./QVX.EXE", "Sub/New.dll", "sub\\new.DLL", "sub//new.dll",
         "QVX.exe2"},
        &duplicates);
    EXPECT_EQ(names, (std::vector<std::string>{"QVX.exe", "qvxchart.dll", "Sub/New.dll", "QVX.exe2"}));
    // "QVX.exe." is left out as a name Windows changes, not named as a
    // second name of the file.
    EXPECT_EQ(duplicates, (std::vector<std::string>{"qvx.EXE", "./QVX.EXE", "sub\\new.DLL", "sub//new.dll"}));
}

TEST(WindowsNameKey, FoldsAsciiLettersButNeverTheSecondByteOfABig5Character) {
    // \xa4\x55 and \xa4\x75 are two different characters whose second
    // bytes are the codes of "U" and "u".
    EXPECT_NE(WindowsNameKey("\xa4U.txt"), WindowsNameKey("\xa4u.txt"));
    EXPECT_EQ(WindowsNameKey("\xa4U.txt"), WindowsNameKey("\xa4U.TXT"));
    EXPECT_EQ(WindowsNameKey("a\xa4Ub"), "A\xa4UB");
    EXPECT_EQ(WindowsNameKey("sub/./x.dll. "), "SUB\\X.DLL");
    EXPECT_EQ(WindowsNameKey("x\xa4"), "X\xa4");  // a lead byte at the end stays
    // A fold of the caller's own is used as given.
    EXPECT_EQ(WindowsNameKey("Ab/c", [](std::string_view s) { return std::string(s); }), "Ab\\c");
}

TEST(NamesFromListing, Big5NamesAreSplitWhereTheSystemSplitsThem) {
    // "\xa3\x5c" is one character (a Greek small alpha) whose second byte has
    // the code of "\": no separator. A first byte without a valid second
    // byte is no character, and its "/" stays a separator.
    struct Case {
        std::string name;
        bool kept;
    } cases[] = {
        {"\xa3\\.DAT", true},         // alpha.DAT: one part, no dot at its end
        {"\xa3\\", true},             // alpha
        {"sub/\xa3\\x.dll", true},
        {"\xa3\\..", false},          // alpha..: Windows drops the dots
        {"\x81/../x", false},          // no character: "/" splits, ".." leaves the folder
        {"a\x81", false},              // a first byte at the end
        {"\xa4U\xb8\xfc.txt", true},
    };
    for (const Case& c : cases) EXPECT_EQ(NamesFromListing({c.name}).size(), c.kept ? 1u : 0u) << c.name;
    // Where a name is judged for safety, every "\" byte separates: that
    // sees a part where Windows sees none, never the other way round.
    EXPECT_FALSE(StaysInsideInstallFolder("\x81/../x"));
    EXPECT_FALSE(StaysInsideInstallFolder("\xa3\\..\\x"));
    EXPECT_TRUE(NamesDevice("\xa3\\NUL"));
    EXPECT_TRUE(NamesDevice("\x81/NUL"));
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
