#include "comms/ftp/ftp_reply.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qv {
namespace {

TEST(FtpReplyCode, FirstThreeCharactersAsDecimalNumber) {
    struct Case {
        std::string line;
        int32_t code;
    } cases[] = {
        {"220 Ready\r\n", 220},      {"230-Welcome\r\n", 230}, {"227 (1,2,3,4,5,6)\r\n", 227},
        {"000 zero\r\n", 0},         {"099\r\n", 99},          {"550", 550},
        {"22\r\n", 0},               {"", 0},                  {"2\r", 0},
        {" 22 x\r\n", 0},            {"+22 x\r\n", 0},         {"2a0 x\r\n", 0},
        {"Hello\r\n", 0},            {std::string("2\0" "0 x", 5), 0},
        {"\xff\xf4\xff" "220\r\n", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(FtpReplyCode(c.line), c.code) << c.line;
}

// Feeds lines as the reply reader does and collects what goes on to the
// reply table: the code and the text from the fifth character.
struct Outcome {
    int32_t code;
    std::string text;
    std::string fromFifth;
    bool operator==(const Outcome&) const = default;
};
std::vector<Outcome> FeedAll(FtpReplyAssembler& a, const std::vector<std::string>& lines) {
    std::vector<Outcome> out;
    for (const std::string& line : lines) {
        int32_t code = FtpReplyCode(line);
        if (a.Feed(line, code))
            out.push_back({code, std::string(a.TextView()), std::string(a.TextFromFifth())});
    }
    return out;
}
void PrintTo(const Outcome& o, std::ostream* os) { *os << o.code << " [" << o.text << "]"; }

TEST(FtpReplyAssembler, JoinsRepliesLineByLine) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        std::vector<Outcome> expected;
    } cases[] = {
        {"single line",
         {"220 Ready\r\n"},
         {{220, "220 Ready\r\n", "Ready\r\n"}}},
        {"three-line greeting: the last line is not added",
         {"220-Welcome\r\n", "220-Hello\r\n", "220 Ready\r\n"},
         {{220, "220-Welcome\r\n220-Hello\r\n", "Welcome\r\n220-Hello\r\n"}}},
        {"inner lines with other codes or none are text",
         {"211-Status\r\n", " 211 indented\r\n", "200 not the end\r\n", "211-still\r\n", "211 End\r\n"},
         {{211, "211-Status\r\n 211 indented\r\n200 not the end\r\n211-still\r\n", "Status\r\n 211 indented\r\n200 not the end\r\n211-still\r\n"}}},
        {"the last line's code goes on",
         {"230-a\r\n", "230 b\r\n", "331 next\r\n"},
         {{230, "230-a\r\n", "a\r\n"}, {331, "331 next\r\n", "next\r\n"}}},
        {"a terminator needs the blank",
         {"150-x\r\n", "150-y\r\n", "150\r\n", "150 z\r\n"},
         {{150, "150-x\r\n150-y\r\n150\r\n", "x\r\n150-y\r\n150\r\n"}}},
        {"short lines are single-line replies",
         {"22\r\n", "1\r\n", "\r\n"},
         {{0, "22\r\n", ""}, {0, "1\r\n", ""}, {0, "\r\n", ""}}},
        {"a hyphen after a non-number starts text ending at \"0 \"",
         {"abc-x\r\n", "abc y\r\n", "0 end\r\n"},
         {{0, "abc-x\r\nabc y\r\n", "x\r\nabc y\r\n"}}},
        {"a line without CR LF is taken as it is",
         {"421 bye"},
         {{421, "421 bye", "bye"}}},
        {"a zero byte ends the text there; appending goes on from it",
         {std::string("500 a\0b\r\n", 9), std::string("501-c\0x", 7), "d\r\n", "501 e\r\n"},
         {{500, "500 a", "a"}, {501, "501-cd\r\n", "cd\r\n"}}},
    };
    for (const Case& c : cases) {
        FtpReplyAssembler a;
        EXPECT_EQ(FeedAll(a, c.lines), c.expected) << c.name;
        EXPECT_FALSE(a.Assembling()) << c.name;
    }
}

TEST(FtpReplyAssembler, TerminatorIsTheCodeAndOneBlank) {
    FtpReplyAssembler a;
    EXPECT_FALSE(a.Feed("257-\"/a\"\r\n", 257));
    EXPECT_TRUE(a.Assembling());
    EXPECT_EQ(a.Terminator(), "257 ");
    a.Reset();
    EXPECT_FALSE(a.Assembling());
    EXPECT_TRUE(a.Feed("200 ok\r\n", 200));
    EXPECT_STREQ(a.Text(), "200 ok\r\n");
}

// The buffer holds 32,768 characters and a zero: longer replies are cut, the
// zero stays, and nothing beyond the buffer is touched (the sanitizer build
// and the canary below catch writes past the end).
TEST(FtpReplyAssembler, CutsAtTheBufferEnd) {
    const std::string line = "211-" + std::string(996, 'x') + "\r\n";  // 1,002 bytes
    FtpReplyAssembler a;
    std::vector<std::string> lines(40, line);  // 40,080 bytes of text
    lines.push_back("211 End\r\n");
    std::vector<Outcome> out = FeedAll(a, lines);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].code, 211);
    ASSERT_EQ(out[0].text.size(), kFtpBufferSize - 1);
    std::string expected;
    for (int i = 0; i < 40; ++i) expected += line;
    EXPECT_EQ(out[0].text, expected.substr(0, kFtpBufferSize - 1));
    EXPECT_EQ(a.Buffer()[kFtpBufferSize - 1], '\0');

    // One line longer than the whole buffer.
    std::string huge = "500 " + std::string(70000, 'y') + "\r\n";
    EXPECT_TRUE(a.Feed(huge, 500));
    EXPECT_EQ(a.TextView(), std::string_view(huge).substr(0, kFtpBufferSize - 1));

    // Exactly full, then a further line adds nothing.
    std::string exact = "226-" + std::string(kFtpBufferSize - 1 - 4, 'z');
    EXPECT_FALSE(a.Feed(exact, 226));
    EXPECT_FALSE(a.Feed("more text\r\n", 0));
    EXPECT_TRUE(a.Feed("226 done\r\n", 226));
    EXPECT_EQ(a.TextView(), exact);
}

TEST(FtpReplyAssembler, ReplaceTextTakesAPartOfItself) {
    FtpReplyAssembler a;
    ASSERT_TRUE(a.Feed("257 \"/pub/upgrade\" is current\r\n", 257));
    a.ReplaceText(FtpFolderFromReply(a.TextView()));
    EXPECT_STREQ(a.Text(), "/pub/upgrade");
    a.ReplaceText(a.TextFromFifth());
    EXPECT_STREQ(a.Text(), "/upgrade");
    a.ReplaceText(std::string(40000, 'q'));
    EXPECT_EQ(a.TextView().size(), kFtpBufferSize - 1);
}

TEST(FtpFolderFromReply, QuotedNameWithDoubledQuotesInside) {
    struct Case {
        const char* reply;
        const char* folder;
    } cases[] = {
        {"257 \"/pub/upgrade\" is current directory.\r\n", "/pub/upgrade"},
        {"257 \"/\"\r\n", "/"},
        {"257 \"\" empty\r\n", ""},
        {"257 \"/\"\"hello\"\"\" created\r\n", "/\"hello\""},
        {"257 \"/a \"\"quoted\"\" b\" is current\r\n", "/a \"quoted\" b"},
        {"257 \"\"\"\"\"\"\r\n", "\"\""},
        {"257 /pub/upgrade is current\r\n", ""},
        {"257 \"/unterminated\r\n", ""},
        {"257 \"/ends with a doubled quote\"\"\r\n", ""},
        {"257-\"/multi\"\r\n257 end\r\n", "/multi"},
    };
    for (const Case& c : cases) EXPECT_EQ(FtpFolderFromReply(c.reply), c.folder) << c.reply;
}

TEST(FtpParsePassiveAddress, FirstSixNumbersAfterTheCode) {
    struct Case {
        const char* reply;
        bool valid;
        const char* host;
        uint32_t port;
        bool usable;
    } cases[] = {
        {"227 Entering Passive Mode (192,168,1,20,19,137)\r\n", true, "192.168.1.20", 5001, true},
        {"227 Entering Passive Mode (127,0,0,1,4,1).\r\n", true, "127.0.0.1", 1025, true},
        // Without parentheses, or with other text around the numbers.
        {"227 Entering Passive Mode 127,0,0,1,4,1\r\n", true, "127.0.0.1", 1025, true},
        {"227 =127,0,0,1,4,1\r\n", true, "127.0.0.1", 1025, true},
        {"227 (127,0,0,1,4,1\r\n", true, "127.0.0.1", 1025, true},
        {"227 (10,0,0,1, 19, 137)\r\n", true, "10.0.0.1", 5001, true},
        {"227 (1,2,3,4,5,6) (7,8,9,10,11,12)\r\n", true, "1.2.3.4", 1286, true},
        // The host is named but never used; any host parses.
        {"227 (0,0,0,0,255,255)\r\n", true, "0.0.0.0", 65535, true},
        // Port 0 and parts beyond a byte name no usable port.
        {"227 ok (127,0,0,1,0,0)\r\n", true, "127.0.0.1", 0, false},
        {"227 (10,0,0,1,256,1)\r\n", true, "10.0.0.1", 65537, false},
        {"227 (10,0,0,1,1,300)\r\n", true, "10.0.0.1", 65536, false},
        // Not six numbers: nothing to connect to.
        {"227 (127,0,0,1,4)\r\n", false, "", 0, false},
        {"227 (127,0,0,1)\r\n", false, "", 0, false},
        {"227 (127,0,0,1,4,)\r\n", false, "", 0, false},
        {"227 (10,0,0,1,19 ,137)\r\n", false, "", 0, false},
        {"227 (a,b,c,d,e,f)\r\n", false, "", 0, false},
        {"227 (10,0,0,1,-1,0)\r\n", false, "", 0, false},
        {"227 (10,0,0,1,99999999999,1)\r\n", false, "", 0, false},
        {"227 (300,0,0,1,4,1)\r\n", false, "", 0, false},
        {"227 ()\r\n", false, "", 0, false},
        {"227\r\n", false, "", 0, false},
        {"", false, "", 0, false},
    };
    for (const Case& c : cases) {
        FtpPassiveAddress a = FtpParsePassiveAddress(c.reply);
        EXPECT_EQ(a.valid, c.valid) << c.reply;
        EXPECT_EQ(a.host, c.host) << c.reply;
        if (c.valid) {
            EXPECT_EQ(a.port, c.port) << c.reply;
        }
        EXPECT_EQ(a.PortUsable(), c.usable) << c.reply;
    }
}

TEST(FtpAnnouncedSize, TheCommonBytesForm) {
    struct Case {
        const char* reply;
        int64_t size;
    } cases[] = {
        {"150 Opening BINARY mode data connection for QVX.exe (3145728 bytes).\r\n", 3145728},
        {"150 Opening data connection for a (1).bin (12 bytes)\r\n", 12},
        {"125 Data connection already open; transfer starting (0 bytes)\r\n", 0},
        {"150 Opening data connection (5000000000 bytes)\r\n", 5000000000LL},
        {"150 File status okay. About to open data connection.\r\n", -1},
        {"150 Opening (12345 octets)\r\n", -1},
        {"150 Opening (12345bytes)\r\n", -1},
        {"150 Opening ( 12345 bytes)\r\n", -1},
        {"150 Opening (12345 bytes\r\n", -1},
        {"150 (bytes)\r\n", -1},
        {"150 (99999999999999999999999 bytes)\r\n", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(FtpAnnouncedSize(c.reply), c.size) << c.reply;
}

TEST(FtpPortArgument, DottedAddressAndPortBytesWithCommas) {
    EXPECT_EQ(FtpPortArgument("10.0.0.5", uint16_t(1031)), "10,0,0,5,4,7");
    EXPECT_EQ(FtpPortArgument("10.0.0.5", uint8_t(4), uint8_t(7)), "10,0,0,5,4,7");
    EXPECT_EQ(FtpPortArgument("127.0.0.1", uint16_t(65535)), "127,0,0,1,255,255");
    EXPECT_EQ(FtpPortArgument("192.168.100.200", uint16_t(256)), "192,168,100,200,1,0");
    EXPECT_EQ(FtpPortArgument("0.0.0.0", uint16_t(0)), "0,0,0,0,0,0");
    // The argument read back by the 227 rules gives the same address.
    FtpPassiveAddress back =
        FtpParsePassiveAddress("227 Entering Passive Mode (" + FtpPortArgument("172.16.5.9", uint16_t(40123)) + ")");
    EXPECT_EQ(back.host, "172.16.5.9");
    EXPECT_EQ(back.port, 40123);
}

}  // namespace
}  // namespace qv
