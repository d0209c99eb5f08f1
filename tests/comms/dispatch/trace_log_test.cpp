// The trace and dispatch-log rings and their dump text, against golden
// files (CR LF kept byte for byte).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comms/dispatch/trace_log.h"
#include "source_files.h"

namespace qv {
namespace {

using test::MessageText;
using test::ReadSourceFile;

std::string Golden(const std::string& name) {
    std::string text = ReadSourceFile("tests/comms/dispatch/golden/" + name);
    EXPECT_FALSE(text.empty()) << "golden file missing: " << name;
    return text;
}

void AddAll(TraceRing& t, uint8_t kind, const std::string& bytes) {
    for (char c : bytes) t.Add(kind, static_cast<uint8_t>(c));
}

TEST(TraceDump, TransmitThenReceive) {
    TraceRing t(100);
    AddAll(t, 'T', "US\r\n");
    AddAll(t, 'R', "220");
    EXPECT_EQ(t.Format(true, false), Golden("trace_transmit_receive_hex.txt"));
    EXPECT_EQ(t.Format(false, false), Golden("trace_transmit_receive_dec.txt"));
}

TEST(TraceDump, LineBreaksAndRenderingModes) {
    TraceRing t(1000);
    AddAll(t, 'T', std::string(100, 'A'));
    AddAll(t, 'R', std::string(20, '\x01'));
    AddAll(t, 'X', " b\xC8");
    EXPECT_EQ(t.Format(true, false), Golden("trace_lines_hex.txt"));
    EXPECT_EQ(t.Format(false, false), Golden("trace_lines_dec.txt"));
    EXPECT_EQ(t.Format(true, true), Golden("trace_lines_allhex.txt"));
}

TEST(TraceDump, ItemRules) {
    struct Case {
        uint8_t b;
        bool hex, allHex;
        const char* text;
    } cases[] = {
        {' ', true, false, "[20]"}, {' ', false, false, " "},    {'!', true, false, "!"},
        {'~', true, false, "~"},    {127, true, false, "[7F]"},  {127, false, false, "[127]"},
        {9, false, false, "[9]"},   {10, false, false, "[10]"},  {255, false, false, "[255]"},
        {'A', true, true, "[41]"},  {'A', false, true, "[41]"},
    };
    for (const Case& c : cases) EXPECT_EQ(DumpItem(c.b, c.hex, c.allHex), c.text) << int(c.b);
}

TEST(TraceDump, WrappedRingKeepsTheNewestOldestFirst) {
    TraceRing t(4);
    AddAll(t, 'R', "abcdefghij");
    EXPECT_TRUE(t.Wrapped());
    EXPECT_EQ(t.Format(true, false), "Receive: \r\nghij");
    TraceRing exact(4);
    AddAll(exact, 'R', "abcd");  // filled exactly once: written whole
    EXPECT_EQ(exact.Format(true, false), "Receive: \r\nabcd");
}

TEST(TraceDump, EmptyAndClearedTracesHaveNoText) {
    TraceRing t(10);
    EXPECT_TRUE(t.Empty());
    EXPECT_EQ(t.Format(true, false), "");
    AddAll(t, 'R', "xyz");
    t.Clear();
    EXPECT_TRUE(t.Empty());
    EXPECT_EQ(t.Format(true, false), "");
}

// ---- dispatch log ------------------------------------------------------

LogTextLookup Texts() {
    return [](int32_t id) { return MessageText(id); };
}

std::string DumpAll(LogRing& log, bool hex, bool allHex) {
    std::string out = FormatLogHeader("GNU C++ test", "Windows NT 6.1 Service Pack 1", Texts());
    LogRecordHeader h;
    std::vector<uint8_t> data;
    while (log.Take(h, data)) out += FormatLogRecord(h, data.data(), hex, allHex, Texts());
    return out;
}

TEST(LogDump, RecordsInTheirColumns) {
    LogRing log(10000, 4096);
    std::string digits;
    for (int i = 0; i < 4; ++i) digits += "0123456789";
    uint8_t kind = 5, modem = 0x91;
    log.Add(1, 1, 1500, 3, "abc", 3);
    log.Add(10, 26, 12345, 24, nullptr, 0);
    log.Add(10, 28, 12345, 241, nullptr, 0);
    log.Add(2, 5, 0, 10, nullptr, 0);
    log.Add(5, 15, 20, 13, &kind, 1);
    log.Add(1, 2, 21, 40, digits.data(), 40);
    log.Add(1, 4, 22, 0x91, &modem, 1);
    log.Add(19, 0, 23, 7, "a\r b", 4);
    log.Add(2, 6, 12345678, 16, nullptr, 0);
    EXPECT_EQ(DumpAll(log, true, false), Golden("log_records_hex.txt"));
    EXPECT_TRUE(log.Empty());
}

TEST(LogDump, AllHexAndDecimalRendering) {
    LogRing log(1000, 100);
    log.Add(19, 0, 1, 0, "Hi!\r\x05", 5);  // user records stay characters
    log.Add(1, 1, 2, 2, "Hi", 2);
    EXPECT_EQ(DumpAll(log, true, true), Golden("log_records_allhex.txt"));
    log.Add(1, 1, 3, 4, "a\r \x05", 4);
    EXPECT_EQ(DumpAll(log, false, false), Golden("log_records_dec.txt"));
}

TEST(LogDump, HeaderCutsTheSystemLineAtEightyCharacters) {
    struct Case {
        size_t description, line;
    } cases[] = {{200, 80}, {61, 80}, {62, 80}, {60, 79}};
    for (const Case& c : cases) {
        std::string header = FormatLogHeader("c", std::string(c.description, 'x'), Texts());
        size_t start = header.find("Operating System : ");
        ASSERT_NE(start, std::string::npos);
        size_t end = header.find("\r\n", start);
        EXPECT_EQ(end - start, c.line) << c.description;
    }
}

TEST(LogDump, TimeColumn) {
    EXPECT_EQ(FormatLogTime(12345), "0012.345");
    EXPECT_EQ(FormatLogTime(1500), "0001.500");
    EXPECT_EQ(FormatLogTime(0), "0000.000");
    EXPECT_EQ(FormatLogTime(9999999), "9999.999");
}

TEST(LogRing, CapacityDropsWholeRecords) {
    LogRing log(100, 4096);
    std::string big(120, 'x'), mid(80, 'y');
    log.Add(1, 1, 0, 1, "a", 1);
    log.Add(1, 1, 0, 2, "b", 1);
    EXPECT_FALSE(log.Add(1, 1, 0, 120, big.data(), 120));  // the record is larger than the ring
    LogRecordHeader h;
    std::vector<uint8_t> data;
    // Nothing was disturbed by the refused record.
    EXPECT_EQ(log.FreeBytes(), 100 - 2 * 17);
    EXPECT_TRUE(log.Add(1, 1, 0, 80, mid.data(), 80));  // 96 bytes: both older records go
    ASSERT_TRUE(log.Take(h, data));
    EXPECT_EQ(h.value, 80);
    EXPECT_EQ(std::string(data.begin(), data.end()), mid);
    EXPECT_FALSE(log.Take(h, data));
}

TEST(LogRing, OldestRecordsGoFirstAndRecordsSplitAcrossTheEnd) {
    LogRing log(64, 4096);
    for (int i = 0; i < 20; ++i) {
        std::string d(static_cast<size_t>(i % 7), static_cast<char>('a' + i));
        ASSERT_TRUE(log.Add(1, 1, static_cast<uint32_t>(i), i, d.data(), static_cast<int32_t>(d.size())));
    }
    // Whatever is left is the newest records, in order and intact.
    LogRecordHeader h;
    std::vector<uint8_t> data;
    int last = -1, count = 0;
    while (log.Take(h, data)) {
        EXPECT_GT(h.value, last);
        last = h.value;
        EXPECT_EQ(h.time, static_cast<uint32_t>(h.value));
        EXPECT_EQ(std::string(data.begin(), data.end()),
                  std::string(static_cast<size_t>(h.value % 7), static_cast<char>('a' + h.value)));
        ++count;
    }
    EXPECT_EQ(last, 19);
    EXPECT_GE(count, 2);
}

TEST(LogRing, DataLongerThanTheReadBackBufferIsCut) {
    LogRing log(1000, 8);
    std::string d = "0123456789ABCDEF";
    ASSERT_TRUE(log.Add(18, 244, 0, 0, d.data(), 16));
    LogRecordHeader h;
    std::vector<uint8_t> data;
    ASSERT_TRUE(log.Take(h, data));
    EXPECT_EQ(h.length, 8);
    EXPECT_EQ(std::string(data.begin(), data.end()), "01234567");
}

}  // namespace
}  // namespace qv
