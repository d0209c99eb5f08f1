// The dispatcher's trace and dispatch log: the two rings and their dump
// texts, driven by a script of operations and compared with plain models.
//
// Invariants:
//  - the trace keeps the last `capacity` entries, oldest first; its dump is
//    the text the dump rules give for them (a heading per run of one kind,
//    a blank line between runs, items by the printable / hex / decimal
//    rules, a line break before an item that would pass column 78, no line
//    end after the last item) and no line is longer than 78 characters;
//  - the log keeps whole records, data cut to the read-back size; a record
//    of capacity bytes or more is refused and changes nothing; one that does
//    not fit drops the oldest records until it does; records come back
//    oldest first exactly as stored, and the free count is always the
//    capacity less the stored records;
//  - a record's dump line is the header columns, then the data items with
//    continuation lines indented by 44 blanks up to column 78, the option
//    name, status kind or modem bits as the record asks, and CR LF;
//  - the header holds the compiler and system texts as given, the system
//    line cut to at most 80 characters.
#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "comms/dispatch/trace_log.h"
#include "fuzz_support.h"

namespace {

using qv::fuzz::Input;
using qv::fuzz::Show;

const std::string kCrLf = "\r\n";

std::string ModelItem(uint8_t b, bool hex, bool allHex) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hh = {'[', digits[b >> 4], digits[b & 15], ']'};
    if (allHex) return hh;
    int lowest = hex ? 33 : 32;
    if (b >= lowest && b <= 126) return std::string(1, char(b));
    return hex ? hh : "[" + std::to_string(b) + "]";
}

struct Entry {
    uint8_t kind, byte;
};

std::string ModelTraceDump(const std::vector<Entry>& entries, bool hex, bool allHex) {
    std::string out;
    uint8_t previous = 0;
    size_t column = 0;
    for (size_t n = 0; n < entries.size(); ++n) {
        const Entry& e = entries[n];
        if (e.kind != previous) {
            if (n > 0) out += kCrLf + kCrLf;
            column = 0;
            if (e.kind == 'R') out += "Receive: ";
            else if (e.kind == 'T') out += "Transmit: ";
            else out += "Special-" + std::string(1, char(e.kind)) + ": ";
            out += kCrLf;
            previous = e.kind;
        }
        std::string item = ModelItem(e.byte, hex, allHex);
        if (column + item.size() > 78) {
            out += kCrLf;
            column = 0;
        }
        column += item.size();
        out += item;
    }
    return out;
}

void CheckLines(const std::string& text, size_t longest) {
    size_t start = 0;
    for (;;) {
        size_t end = text.find(kCrLf, start);
        size_t length = (end == std::string::npos ? text.size() : end) - start;
        QV_FUZZ_CHECK(length <= longest, "a line of " + std::to_string(length) + " characters");
        if (end == std::string::npos) return;
        start = end + 2;
    }
}

void TraceScript(Input& in) {
    auto capacity = static_cast<int32_t>(in.Range(1, 400));
    qv::TraceRing trace(capacity);
    std::deque<Entry> model;
    while (!in.Empty()) {
        uint8_t op = in.Byte();
        if (op < 8) {
            trace.Clear();
            model.clear();
        } else {
            // Mostly the two real kinds, sometimes anything.
            uint8_t kind = op < 128 ? 'R' : op < 248 ? 'T' : in.Byte();
            int count = 1 + in.Byte() % 64;
            for (int i = 0; i < count; ++i) {
                uint8_t b = in.Byte();
                trace.Add(kind, b);
                model.push_back({kind, b});
                if (static_cast<int32_t>(model.size()) > capacity) model.pop_front();
            }
        }
        QV_FUZZ_CHECK(trace.Empty() == model.empty(), "");
    }
    std::vector<Entry> entries(model.begin(), model.end());
    for (int mode = 0; mode < 3; ++mode) {
        bool hex = mode != 0, allHex = mode == 2;
        std::string dump = trace.Format(hex, allHex);
        QV_FUZZ_CHECK(dump == ModelTraceDump(entries, hex, allHex), "mode " + std::to_string(mode));
        CheckLines(dump, 78);
    }
}

// ---- dispatch log ------------------------------------------------------

struct Record {
    qv::LogRecordHeader header;
    std::string data;
};

// Names of the log vocabulary: a few texts of fuzzed lengths.
struct Names {
    std::string texts[4];
    std::string operator()(int32_t id) const { return texts[static_cast<uint32_t>(id) % 4] + std::to_string(id); }
};

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}
std::string PadRight(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

std::string ModelTime(uint32_t ms) {
    std::string digits = std::to_string(ms);
    if (digits.size() < 7) digits.insert(0, 7 - digits.size(), '0');
    return digits.insert(4, ".");
}

std::string ModelRecordDump(const Record& r, bool hex, bool allHex, const Names& names) {
    const qv::LogRecordHeader& h = r.header;
    static const char digits[] = "0123456789ABCDEF";
    std::string value;
    for (int shift = 28; shift >= 0; shift -= 4) value += digits[(static_cast<uint32_t>(h.value) >> shift) & 15];
    std::string out = PadLeft(ModelTime(h.time), 8) + "  " + PadRight(names(15001 + h.type), 8) + "  " +
                      PadRight(h.subtype ? names(15100 + h.subtype) : "", 12) + "  " + value + "  ";
    if (r.data.empty()) {
        if (h.type == 10) {
            auto option = static_cast<uint32_t>(h.value);
            out += "[" + (option <= 42 ? names(static_cast<int32_t>(15700 + option)) : "") + "]";
        }
        return out + kCrLf;
    }
    if ((h.type == 5 || h.type == 6) && h.subtype == 15) {
        static const char* const kinds[] = {"(Not active)", "(Modem status)", "(Line status)",
                                            "(Output buffer free)", "(Output buffer used)", "(Output sent)"};
        if (uint8_t(r.data[0]) <= 5) out += kinds[uint8_t(r.data[0])];
    } else {
        size_t column = 45;
        for (char c : r.data) {
            std::string item = allHex && h.type == 19 ? std::string(1, c) : ModelItem(uint8_t(c), hex, allHex);
            if (column + item.size() > 78) {
                out += kCrLf + std::string(44, ' ');
                column = 45;
            }
            column += item.size();
            out += item;
        }
    }
    if (h.subtype == 4) {
        std::string bits;
        for (int bit = 0; bit < 8; ++bit)
            if (h.value & (1 << bit)) bits += names(15601 + bit);
        size_t a = bits.find_first_not_of(' '), b = bits.find_last_not_of(' ');
        out += "(" + (a == std::string::npos ? std::string() : bits.substr(a, b - a + 1)) + ")";
    }
    return out + kCrLf;
}

void LogScript(Input& in) {
    auto capacity = static_cast<int32_t>(in.Range(1, 600));
    auto readBack = static_cast<int32_t>(in.Range(0, 300));
    qv::LogRing log(capacity, readBack);
    Names names;
    // The names come from the program's own message table, where no text
    // holds a zero byte.
    for (std::string& t : names.texts) {
        t = in.Bytes(in.Byte() % 24);
        std::erase(t, '\0');
    }
    // The header's two texts come first: the script takes the rest.
    std::string compiler = in.Text(), system = in.Text();
    bool hex = in.Bool(), allHex = in.Bool();
    std::deque<Record> model;
    auto used = [&] {
        int32_t n = 0;
        for (const Record& r : model) n += qv::kLogHeaderSize + static_cast<int32_t>(r.data.size());
        return n;
    };
    while (!in.Empty()) {
        uint8_t op = in.Byte();
        if (op < 16) {
            log.Clear();
            model.clear();
        } else if (op < 80) {
            qv::LogRecordHeader h;
            std::vector<uint8_t> data;
            bool taken = log.Take(h, data);
            QV_FUZZ_CHECK(taken == !model.empty(), "");
            if (taken) {
                const Record& m = model.front();
                QV_FUZZ_CHECK(h.type == m.header.type && h.subtype == m.header.subtype && h.time == m.header.time &&
                                  h.value == m.header.value && h.length == static_cast<int32_t>(m.data.size()),
                              "");
                QV_FUZZ_CHECK(std::string(data.begin(), data.end()) == m.data, "");
                std::string dump = qv::FormatLogRecord(h, data.data(), hex, allHex, names);
                QV_FUZZ_CHECK(dump == ModelRecordDump(m, hex, allHex, names),
                              Show(dump) + " vs model " + Show(ModelRecordDump(m, hex, allHex, names)));
                model.pop_front();
            }
        } else {
            Record r;
            r.header.type = in.Byte() % 24;
            r.header.subtype = in.Byte();
            r.header.time = in.Bool() ? in.U32() : in.U16();
            r.header.value = static_cast<int32_t>(in.Bool() ? in.U32() : in.Byte());
            auto length = static_cast<int32_t>(in.Range(-1, 400));
            std::string data = in.Bytes(static_cast<size_t>(std::max(length, 0)));
            length = std::min(length, static_cast<int32_t>(data.size()));
            bool stored = log.Add(r.header.type, r.header.subtype, r.header.time, r.header.value,
                                  data.empty() ? nullptr : data.data(), length);
            r.data = length <= 0 ? std::string() : data.substr(0, static_cast<size_t>(std::min(length, readBack)));
            r.header.length = static_cast<int32_t>(r.data.size());
            int32_t size = qv::kLogHeaderSize + r.header.length;
            QV_FUZZ_CHECK(stored == (size < capacity), "");
            if (stored) {
                while (used() + size > capacity) model.pop_front();
                model.push_back(r);
            }
        }
        QV_FUZZ_CHECK(log.FreeBytes() == capacity - used(), "");
        QV_FUZZ_CHECK(log.Empty() == model.empty(), "");
    }

    // The header: the compiler line and the system line as given (the
    // system line cut to at most 80 characters), then the two column lines.
    std::string header = qv::FormatLogHeader(compiler, system, names);
    std::string start = "COMMS v3.04\r\nCompiler : " + compiler + "\r\n";
    std::string end = kCrLf + names(15501) + kCrLf + names(15502) + kCrLf;
    std::string full = "Operating System : " + system;
    QV_FUZZ_CHECK(header.size() >= start.size() + end.size(), Show(header));
    QV_FUZZ_CHECK(header.compare(0, start.size(), start) == 0, Show(header));
    QV_FUZZ_CHECK(header.compare(header.size() - end.size(), end.size(), end) == 0, Show(header));
    std::string line = header.substr(start.size(), header.size() - start.size() - end.size());
    QV_FUZZ_CHECK(line.size() <= 80 && full.compare(0, line.size(), line) == 0, Show(line));
    QV_FUZZ_CHECK(line.size() >= std::min<size_t>(full.size(), 80), Show(line));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    if (in.Byte() & 1) LogScript(in);
    else TraceScript(in);
    return 0;
}
