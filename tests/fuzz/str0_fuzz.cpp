// The "STR0" message-table reader.
//
// Invariants:
//  - Check() accepts exactly the tables whose magic, count, entry table and
//    every entry's text lie inside the bytes given, and says which fault it
//    found first otherwise;
//  - on an accepted table every entry's text is the UTF-16LE code units at
//    its offset;
//  - Find() only ever gives an entry with the id asked for; on a table
//    sorted by signed id it finds every id the table holds;
//  - a table laid out as the generator lays it out (sorted unique ids, texts
//    back to back) is accepted and gives each text by its id and nothing for
//    the ids it lacks.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "comms/base/str0_table.h"
#include "fuzz_support.h"
#include "tests/comms/base/str0_table_bytes.h"

namespace {

using qv::Str0Check;
using qv::fuzz::Input;

uint32_t U32At(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

Str0Check ModelCheck(const std::string& b) {
    if (b.size() < 4 || b.compare(0, 4, "STR0") != 0) return Str0Check::BadMagic;
    if (b.size() < 8) return Str0Check::Truncated;
    uint64_t count = U32At(b, 4);
    if (8 + 12 * count > b.size()) return Str0Check::Truncated;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t offset = U32At(b, 8 + 12 * i + 4), length = U32At(b, 8 + 12 * i + 8);
        if (offset + 2 * length > b.size()) return Str0Check::EntryOutOfRange;
    }
    return Str0Check::Ok;
}

std::u16string ModelText(const std::string& b, uint32_t offset, uint32_t length) {
    std::u16string t;
    for (uint32_t i = 0; i < length; ++i)
        t += static_cast<char16_t>(uint8_t(b[offset + 2 * i]) | uint8_t(b[offset + 2 * i + 1]) << 8);
    return t;
}

void AnyBytes(const std::string& bytes) {
    // The reader is given exactly these bytes: nothing after them to read.
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    qv::Str0Table table(copy.data(), copy.size());
    Str0Check check = table.Check();
    QV_FUZZ_CHECK(check == ModelCheck(bytes), "");
    if (check != Str0Check::Ok) return;

    uint32_t count = table.Count();
    bool sorted = true;
    for (uint32_t i = 0; i < count; ++i) {
        qv::Str0Entry e = table.Entry(i);
        QV_FUZZ_CHECK(e.id == static_cast<int32_t>(U32At(bytes, 8 + 12 * size_t(i))), "");
        QV_FUZZ_CHECK(table.Text(e) == ModelText(bytes, e.offset, e.length), "");
        if (i > 0 && table.Entry(i - 1).id > e.id) sorted = false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        int32_t id = table.Entry(i).id;
        auto found = table.Find(id);
        if (sorted) QV_FUZZ_CHECK(found.has_value(), "id " + std::to_string(id) + " of a sorted table not found");
        if (found) QV_FUZZ_CHECK(found->id == id, "");
        for (int64_t other : {int64_t(id) - 1, int64_t(id) + 1}) {
            if (other < INT32_MIN || other > INT32_MAX) continue;
            auto f = table.Find(static_cast<int32_t>(other));
            if (f) QV_FUZZ_CHECK(f->id == other, "");
        }
    }
}

void GeneratorTable(Input& in) {
    std::map<int32_t, std::u16string> entries;
    int n = in.Byte() % 48;
    for (int i = 0; i < n; ++i) {
        auto id = static_cast<int32_t>(in.Bool() ? in.U32() : in.U16() - 0x8000);
        std::u16string text;
        int length = in.Byte() % 12;
        for (int k = 0; k < length; ++k) text += static_cast<char16_t>(in.U16());
        entries[id] = text;
    }
    const std::vector<uint8_t> built = qv::test::Str0TableBytes(entries);
    // An allocation of exactly the table's size: a read past it is caught.
    const std::vector<uint8_t> b(built.begin(), built.end());
    qv::Str0Table table(b.data(), b.size());
    QV_FUZZ_CHECK(table.Check() == Str0Check::Ok, "");
    for (const auto& [id, text] : entries) {
        auto e = table.Find(id);
        QV_FUZZ_CHECK(e && table.Text(*e) == text, "id " + std::to_string(id));
        if (id != INT32_MAX && !entries.count(id + 1)) QV_FUZZ_CHECK(!table.Find(id + 1), "");
        if (id != INT32_MIN && !entries.count(id - 1)) QV_FUZZ_CHECK(!table.Find(id - 1), "");
    }
    auto probe = static_cast<int32_t>(in.U32());
    if (!entries.count(probe)) QV_FUZZ_CHECK(!table.Find(probe), "");
    // Any cut of the table is refused (its last byte is a text's or the
    // entry table's), never read past.
    size_t cut = static_cast<size_t>(in.Range(0, static_cast<int64_t>(b.size()) - 1));
    std::vector<uint8_t> shorter(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(cut));
    qv::Str0Table cutTable(shorter.data(), shorter.size());
    QV_FUZZ_CHECK(cutTable.Check() != Str0Check::Ok, "cut at " + std::to_string(cut));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    if (in.Byte() & 1) {
        GeneratorTable(in);
    } else {
        AnyBytes(in.Rest());
    }
    return 0;
}
