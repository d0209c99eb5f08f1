// FTP reply helpers: the code of a line, multi-line assembly, the 227 and
// 257 texts and the PORT argument.
//
// Invariants:
//  - the code is the first three characters as a decimal number, else 0;
//  - assembly matches a plain model (one line, or the lines of a multi-line
//    reply up to its terminator line, cut at the buffer's end and at a zero
//    byte), whatever the lines are; the buffer always ends in a zero;
//  - a multi-line reply assembled from any chunking of its text gives the
//    text of the whole; a part of the buffer put back as the new text is
//    that part;
//  - a 227 reply that names four bytes and a port in parentheses gives that
//    host and port, and the PORT argument of that host and port is the same
//    six numbers;
//  - a 257 reply gives the name between its quotes, and any name it gives
//    stands quoted right after the text's first double quote.
#include <string>
#include <vector>

#include "comms/ftp/ftp_reply.h"
#include "fuzz_support.h"

namespace {

using qv::fuzz::Input;
using qv::fuzz::Show;

constexpr size_t kTextRoom = qv::kFtpBufferSize - 1;

// A line as a zero-terminated copy of it: up to its first zero byte.
std::string UpToZero(const std::string& line) { return line.substr(0, line.find('\0')); }

// What the buffer can show of a text: its first 32,768 characters.
std::string AsBufferShows(const std::string& text) {
    return text.size() > kTextRoom ? text.substr(0, kTextRoom) : text;
}

int32_t ModelCode(std::string_view line) {
    if (line.size() < 3) return 0;
    int32_t v = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        v = v * 10 + (line[i] - '0');
    }
    return v;
}

void CheckBuffer(const qv::FtpReplyAssembler& a) {
    QV_FUZZ_CHECK(a.Buffer()[qv::kFtpBufferSize - 1] == '\0', "the buffer lost its final zero");
    std::string_view text = a.TextView();
    QV_FUZZ_CHECK(text.size() <= kTextRoom, "");
    QV_FUZZ_CHECK(text.find('\0') == std::string_view::npos, "");
    QV_FUZZ_CHECK(a.TextFromFifth() == (text.size() > 4 ? text.substr(4) : std::string_view()), Show(text));
}

// Any text: the code, and what 227 and 257 may give for it.
void AnyText(const std::string& text) {
    QV_FUZZ_CHECK(qv::FtpReplyCode(text) == ModelCode(text), Show(text));

    std::string folder = qv::FtpFolderFromReply(text);
    size_t quote = text.find('"');
    if (quote == std::string::npos) QV_FUZZ_CHECK(folder.empty(), Show(text));
    if (!folder.empty()) {
        // A name comes from between quotes; a quote inside it is doubled.
        std::string quoted = "\"";
        for (char c : folder) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        quoted += '"';
        QV_FUZZ_CHECK(text.compare(quote, quoted.size(), quoted) == 0, Show(text) + " gave " + Show(folder));
    }

    (void)qv::FtpParsePassiveAddress(text);
}

// A stream of CR LF lines fed as the reply reader feeds them, against the
// model.
void LineStream(const std::string& stream) {
    qv::FtpReplyAssembler a;
    bool multi = false;
    std::string terminator, model;
    size_t at = 0;
    for (;;) {
        size_t end = stream.find("\r\n", at);
        if (end == std::string::npos) break;
        std::string line = stream.substr(at, end + 2 - at);
        at = end + 2;
        int32_t code = qv::FtpReplyCode(line);
        bool complete;
        if (!multi) {
            model = UpToZero(line);
            multi = line.size() >= 4 && line[3] == '-';
            if (multi) terminator = std::to_string(code) + " ";
            complete = !multi;
        } else if (line.compare(0, terminator.size(), terminator) != 0) {
            model += UpToZero(line);
            complete = false;
        } else {
            multi = false;
            complete = true;
        }
        QV_FUZZ_CHECK(a.Feed(line, code) == complete, Show(line));
        QV_FUZZ_CHECK(a.Assembling() == multi, Show(line));
        if (multi) QV_FUZZ_CHECK(a.Terminator() == terminator, "");
        // The model keeps every line up to its zero byte; the buffer shows
        // what fits.
        QV_FUZZ_CHECK(a.TextView() == AsBufferShows(model), Show(line));
        CheckBuffer(a);
    }
}

// One multi-line reply whose body comes in pieces (some repeated, to pass
// the buffer's end): the assembled text is the text of the whole.
void ChunkedReply(Input& in) {
    int code = static_cast<int>(in.Range(100, 599));
    std::string codeText = std::to_string(code);
    std::string first = codeText + "-" + UpToZero(in.Text()) + "\r\n";
    std::string terminator = codeText + " ";
    qv::FtpReplyAssembler a;
    QV_FUZZ_CHECK(!a.Feed(first, code), "");
    std::string whole = first;
    while (!in.Empty()) {
        // Zero bytes would end each piece, whole or chunked alike.
        std::string piece = in.Text();
        std::erase(piece, '\0');
        int repeat = 1 + in.Byte();
        // A piece that begins with the terminator would end the reply.
        if (piece.compare(0, terminator.size(), terminator) == 0) piece.insert(0, "x");
        for (int r = 0; r < repeat; ++r) {
            QV_FUZZ_CHECK(!a.Feed(piece, qv::FtpReplyCode(piece)), Show(piece));
            whole += piece;
        }
        CheckBuffer(a);
    }
    std::string last = terminator + "end\r\n";
    QV_FUZZ_CHECK(a.Feed(last, code), "");
    QV_FUZZ_CHECK(!a.Assembling(), "");
    QV_FUZZ_CHECK(a.TextView() == AsBufferShows(whole), "");

    // The 257 handling puts a part of the buffer back as its new text.
    std::string fifth(a.TextFromFifth());
    a.ReplaceText(a.TextFromFifth());
    QV_FUZZ_CHECK(a.TextView() == fifth, "");
    CheckBuffer(a);
}

std::string Decimal(uint8_t b) { return std::to_string(b); }

void PassiveReply(Input& in) {
    uint8_t n[6];
    for (uint8_t& b : n) b = in.Byte();
    // Text before the numbers: no digits, no parentheses.
    std::string prefix;
    for (char c : in.Text())
        if (!(c >= '0' && c <= '9') && c != '(' && c != ')') prefix += c;
    std::string numbers = Decimal(n[0]);
    for (int k = 1; k < 6; ++k) numbers += "," + Decimal(n[k]);
    std::string reply = "227 " + prefix + "(" + numbers + ")" + in.Rest();
    std::string host = Decimal(n[0]) + "." + Decimal(n[1]) + "." + Decimal(n[2]) + "." + Decimal(n[3]);
    uint32_t port = n[4] * 256u + n[5];

    qv::FtpPassiveAddress address = qv::FtpParsePassiveAddress(reply);
    QV_FUZZ_CHECK(address.host == host, Show(reply) + " gave host " + Show(address.host));
    QV_FUZZ_CHECK(address.port == port, Show(reply) + " gave port " + std::to_string(address.port));

    QV_FUZZ_CHECK(qv::FtpPortArgument(host, n[4], n[5]) == numbers, "");
    QV_FUZZ_CHECK(qv::FtpPortArgument(host, static_cast<uint16_t>(port)) == numbers, "");
}

void FolderReply(Input& in) {
    auto without = [](std::string s) {
        std::erase(s, '"');
        return s;
    };
    std::string prefix = without(in.Text());
    std::string name = without(in.Text());
    std::string suffix = in.Rest();
    // A quote right after the closing one would read as a doubled quote.
    suffix.erase(0, suffix.find_first_not_of('"'));
    std::string reply = "257 " + prefix + "\"" + name + "\"" + suffix;
    QV_FUZZ_CHECK(qv::FtpFolderFromReply(reply) == name, Show(reply));
    AnyText(reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    switch (in.Byte() % 5) {
        case 0: AnyText(in.Rest()); break;
        case 1: LineStream(in.Rest()); break;
        case 2: ChunkedReply(in); break;
        case 3: PassiveReply(in); break;
        case 4: FolderReply(in); break;
    }
    return 0;
}
