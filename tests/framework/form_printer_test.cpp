// Printing a parsed form: the text of each kind of value, and reading the
// printed text back gives the same tree.
#include "framework/form_printer.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

// One property's value as written in a form, and as the printer writes it.
TEST(PrintForm, ValuesAreWrittenSoThatTheReaderGetsThemBack) {
    struct Case {
        const char* written;
        const char* printed;
    } cases[] = {
        {"\"plain text\"", "\"plain text\""},
        {"\"q\\\" b\\\\ r\\r n\\n t\\t\"", "\"q\\\" b\\\\ r\\r n\\n t\\t\""},
        {"\"\\x01\\x7F\\x80\\xFF\"", "\"\\x01\\x7F\\x80\\xFF\""},
        {"\"\xA4\xA4\xA4\xE5\"", "\"\xA4\xA4\xA4\xE5\""},      // Big5 characters stay as they are
        {"\"\xA5\\\"", "\"\xA5\\\""},                            // a trail byte that is a backslash
        {"\"\\xA4\"", "\"\\xA4\""},                              // a lead byte alone
        {"\"\\xA4\\x0A\"", "\"\\xA4\\n\""},                      // a lead byte before no trail byte
        {"12", "12"},
        {"-2147483648", "-2147483648"},
        {"0xFFFFFFFF", "-1"},
        {"-0x80000000", "-0x80000000"},
        {"+7", "7"},
        {"clBtnFace", "clBtnFace"},
        {"[a, \"b\" 3 [x]]", "[a, \"b\", 3, [x]]"},
        {"[]", "[]"},
    };
    for (const Case& c : cases) {
        FormObject form = ParseForm(std::string("F f {\n  P = ") + c.written + "\n}\n", "test");
        std::string printed = PrintForm(form);
        EXPECT_EQ(printed, std::string("F f {\n  P = ") + c.printed + "\n}\n") << c.written;
        FormObject again = ParseForm(printed, "printed");
        EXPECT_TRUE(SameFormTree(form, again)) << c.written;
    }
}

TEST(PrintForm, NestedObjectsAndPropertiesReadBackAsTheSameTree) {
    const char* text =
        "# comment\n"
        "Form Main { Caption = \"Main\" Font { Name = \"MS Sans Serif\" Style { Bold = true } }\n"
        "  Panel P1 { Left = 1\n"
        "    Button B1 { OnClick = B1Click }\n"
        "    Top = 2 }\n"
        "  MultiLang M { Words = [\"%Form%\", \"A\", \"B\"] }\n"
        "}\n";
    FormObject form = ParseForm(text, "test");
    std::string printed = PrintForm(form);
    EXPECT_EQ(printed,
              "Form Main {\n"
              "  Caption = \"Main\"\n"
              "  Font {\n"
              "    Name = \"MS Sans Serif\"\n"
              "    Style {\n"
              "      Bold = true\n"
              "    }\n"
              "  }\n"
              "  Panel P1 {\n"
              "    Left = 1\n"
              "    Top = 2\n"
              "    Button B1 {\n"
              "      OnClick = B1Click\n"
              "    }\n"
              "  }\n"
              "  MultiLang M {\n"
              "    Words = [\"%Form%\", \"A\", \"B\"]\n"
              "  }\n"
              "}\n");
    FormObject again = ParseForm(printed, "printed");
    EXPECT_TRUE(SameFormTree(form, again));
    EXPECT_EQ(PrintForm(again), printed);
}

TEST(SameFormTree, TellsTreesApartByAnyPart) {
    const char* base = "F f { A = 1 B { C = \"x\" } G g { } }";
    const char* others[] = {
        "F f { A = 2 B { C = \"x\" } G g { } }",  "F f { A = 1 B { C = \"y\" } G g { } }",
        "F f { A = 1 B { D = \"x\" } G g { } }",  "F f { A = 1 B { C = \"x\" } G h { } }",
        "F f { A = 1 B { C = \"x\" } }",          "F f { A = a B { C = \"x\" } G g { } }",
        "F f { A = [1] B { C = \"x\" } G g { } }", "E f { A = 1 B { C = \"x\" } G g { } }",
    };
    FormObject a = ParseForm(base, "base");
    EXPECT_TRUE(SameFormTree(a, ParseForm(std::string("\n\n") + base, "moved")));
    for (const char* other : others) EXPECT_FALSE(SameFormTree(a, ParseForm(other, "other"))) << other;
}

}  // namespace
}  // namespace qv
