#include "comms/base/str0_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/comms/base/str0_table_bytes.h"

namespace qv {
namespace {

// Builds a table the way the generator lays it out; `patch` may then break it.
std::vector<uint8_t> Table(const std::vector<std::pair<int32_t, std::u16string>>& entries) {
    return test::Str0TableBytes(entries);
}

void PutU32(std::vector<uint8_t>& t, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) t[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(Str0Table, FindsEveryIdOfASortedTableAndMissesTheOthers) {
    std::vector<std::pair<int32_t, std::u16string>> entries;
    for (int32_t id = -50; id <= 15742; id += 97) entries.push_back({id, u"t" + std::u16string(1, char16_t(id & 0x7F))});
    auto bytes = Table(entries);
    Str0Table table(bytes.data(), bytes.size());
    ASSERT_EQ(table.Check(), Str0Check::Ok);
    for (const auto& [id, text] : entries) {
        auto e = table.Find(id);
        ASSERT_TRUE(e) << id;
        EXPECT_EQ(table.Text(*e), text);
        EXPECT_FALSE(table.Find(id + 1)) << id + 1;
    }
    EXPECT_FALSE(table.Find(INT32_MIN));
    EXPECT_FALSE(table.Find(INT32_MAX));
}

TEST(Str0Table, EmptyTableSingleEntryAndEmptyText) {
    auto none = Table({});
    Str0Table empty(none.data(), none.size());
    EXPECT_EQ(empty.Check(), Str0Check::Ok);
    EXPECT_FALSE(empty.Find(0));

    auto one = Table({{2007, u"ie_NOpen - device not open"}});
    Str0Table single(one.data(), one.size());
    ASSERT_EQ(single.Check(), Str0Check::Ok);
    EXPECT_TRUE(single.Find(2007));
    EXPECT_FALSE(single.Find(2006));
    EXPECT_FALSE(single.Find(2008));

    auto blank = Table({{4599, u"x"}, {4600, u""}, {4601, u"y"}});
    Str0Table withEmpty(blank.data(), blank.size());
    ASSERT_EQ(withEmpty.Check(), Str0Check::Ok);
    auto e = withEmpty.Find(4600);
    ASSERT_TRUE(e);
    EXPECT_EQ(withEmpty.Text(*e), u"");
}

TEST(Str0Table, RefusesDamagedTablesWithoutReadingOutsideThem) {
    const auto good = Table({{1, u"abc"}, {2, u"de"}});
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        Str0Check expected;
    };
    std::vector<Case> cases;
    cases.push_back({"nothing", {}, Str0Check::BadMagic});
    cases.push_back({"three bytes", {'S', 'T', 'R'}, Str0Check::BadMagic});
    auto magic = good;
    magic[3] = '1';
    cases.push_back({"wrong magic", magic, Str0Check::BadMagic});
    cases.push_back({"no count", {'S', 'T', 'R', '0', 1, 0}, Str0Check::Truncated});
    auto cut = good;
    cut.resize(8 + 12 + 5);
    cases.push_back({"entry table cut", cut, Str0Check::Truncated});
    auto huge = good;
    PutU32(huge, 4, 0xFFFFFFFFu);
    cases.push_back({"count beyond the table", huge, Str0Check::Truncated});
    auto offset = good;
    PutU32(offset, 8 + 4, static_cast<uint32_t>(good.size()));
    cases.push_back({"offset at the end", offset, Str0Check::EntryOutOfRange});
    auto length = good;
    PutU32(length, 8 + 12 + 8, 3);  // "de" claims 3 units, runs one past the end
    cases.push_back({"length past the end", length, Str0Check::EntryOutOfRange});
    auto wrap = good;
    PutU32(wrap, 8 + 4, 0xFFFFFFF0u);
    PutU32(wrap, 8 + 8, 0x10u);  // offset + length would wrap in 32 bits
    cases.push_back({"offset wrapping", wrap, Str0Check::EntryOutOfRange});
    auto textsCut = good;
    textsCut.pop_back();
    cases.push_back({"last text cut", textsCut, Str0Check::EntryOutOfRange});

    for (const Case& c : cases) {
        // Copy into an exactly sized heap block so the sanitizer sees any overread.
        std::vector<uint8_t> exact(c.bytes);
        exact.shrink_to_fit();
        Str0Table table(exact.data(), exact.size());
        EXPECT_EQ(table.Check(), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace qv
