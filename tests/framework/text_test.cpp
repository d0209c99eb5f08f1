#include "framework/text.h"

#include <gtest/gtest.h>

#include "framework/exception.h"
#include "framework/string_list.h"

namespace qv {
namespace {

TEST(Text, IntegerTexts) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    } cases[] = {
        {"21", 21},          {"  21", 21},         {"-5", -5},           {"+7", 7},
        {"$15", 21},         {"0x15", 21},         {"0X1f", 31},         {"$FFFFFFFF", -1},
        {"2147483647", 2147483647},                {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},              {"", std::nullopt},   {"ftp", std::nullopt},
        {"21 ", std::nullopt},                     {"0x", std::nullopt}, {"$", std::nullopt},
        {"1a", std::nullopt},
        // The lowest value spelled in hexadecimal with a sign: the pattern
        // wraps to itself instead of overflowing.
        {"-$80000000", INT32_MIN},                 {"-0x80000000", INT32_MIN},
        {"-$FFFFFFFF", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(TryStrToInt(c.text), c.value) << c.text;
    EXPECT_THROW(StrToInt("x1"), EConvertError);
}

TEST(Text, TrimRemovesBlanksAndControlCharacters) {
    EXPECT_EQ(Trim(" \t upgrade.bin \r\n"), "upgrade.bin");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(TrimLeft("  a "), "a ");
    EXPECT_EQ(TrimRight("  a "), "  a");
}

TEST(Text, CaseFoldingTouchesAsciiLettersOnly) {
    EXPECT_TRUE(SameText("%FORM%", "%form%"));
    EXPECT_EQ(UpperCase("ab\xa4\xa4z"), "AB\xa4\xa4Z");
    EXPECT_EQ(LowerCase("Label1"), "label1");
}

TEST(Text, StringListTextSplitsAtEveryLineBreakKind) {
    StringList list;
    list.SetText("a\r\nb\rc\nd\r\n");
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n");
    list.SetText("x\n\ny");
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"x", "", "y"}));
    EXPECT_THROW(list.Get(3), Exception);
}

TEST(Text, SplitAndFileName) {
    EXPECT_EQ(Split("a,,b", ','), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(ExtractFileName("C:\\dir\\Texts.DLL"), "Texts.DLL");
    EXPECT_EQ(Sprintf("%.8X", 0x2a), "0000002A");
}

}  // namespace
}  // namespace qv
