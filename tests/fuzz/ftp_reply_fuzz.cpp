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
//  - 227: the PORT argument of any host and port, in a reply with or
//    without parentheses and with or without blanks after its commas, gives
//    that host and port back (and the PORT argument is those six numbers);
//    for any text, the address is valid exactly when, at the first digit
//    after the code and the character after it, six numbers of up to five
//    digits stand separated by commas (blanks allowed after a comma) and the
//    four host numbers are at most 255; the port is usable exactly when both
//    port numbers are at most 255 and give 1 to 65535;
//  - 257: a reply that quotes any name, its quotes doubled, gives the name,
//    and any name it gives stands quoted right after the text's first
//    double quote;
//  - the announced size is the number of the text's last "(N bytes)" (N of
//    up to 18 digits), or -1 when there is none.
#include <algorithm>
#include <regex>
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

// The 227 model: at the first digit after the code and the character that
// follows it, six numbers of one to five digits (a longer run is no
// number), each but the last followed by a comma and any blanks.
struct PassiveModel {
    bool valid = false;
    uint32_t n[6] = {};
};

PassiveModel ModelPassive(std::string_view text) {
    static const std::regex six(R"(^(\d{1,5}), *(\d{1,5}), *(\d{1,5}), *(\d{1,5}), *(\d{1,5}), *(\d{1,5})(?!\d))");
    PassiveModel m;
    if (text.size() <= 4) return m;
    size_t first = text.find_first_of("0123456789", 4);
    if (first == std::string_view::npos) return m;
    std::match_results<std::string_view::const_iterator> found;
    if (!std::regex_search(text.begin() + static_cast<std::ptrdiff_t>(first), text.end(), found, six,
                           std::regex_constants::match_continuous))
        return m;
    for (int k = 0; k < 6; ++k) m.n[k] = static_cast<uint32_t>(std::stoul(found[k + 1].str()));
    m.valid = m.n[0] <= 255 && m.n[1] <= 255 && m.n[2] <= 255 && m.n[3] <= 255;
    return m;
}

void CheckPassive(std::string_view text) {
    qv::FtpPassiveAddress a = qv::FtpParsePassiveAddress(text);
    PassiveModel m = ModelPassive(text);
    std::string shown = Show(text) + " gave valid " + std::to_string(a.valid) + " host " + Show(a.host) + " port " +
                        std::to_string(a.port);
    QV_FUZZ_CHECK(a.valid == m.valid, shown);
    QV_FUZZ_CHECK(a.PortUsable() == (a.valid && a.port >= 1 && a.port <= 65535), shown);
    if (!m.valid) {
        QV_FUZZ_CHECK(!a.PortUsable(), shown);
        return;
    }
    std::string host = std::to_string(m.n[0]) + "." + std::to_string(m.n[1]) + "." + std::to_string(m.n[2]) + "." +
                       std::to_string(m.n[3]);
    QV_FUZZ_CHECK(a.host == host, shown);
    bool bytes = m.n[4] <= 255 && m.n[5] <= 255;
    uint32_t port = m.n[4] * 256 + m.n[5];
    QV_FUZZ_CHECK(a.PortUsable() == (bytes && port >= 1), shown);
    if (bytes) QV_FUZZ_CHECK(a.port == port, shown);
}

// The size model: the last " bytes)" whose digits before it (one to 18)
// follow an opening parenthesis.
int64_t ModelAnnouncedSize(std::string_view text) {
    static constexpr std::string_view tail = " bytes)";
    size_t end = text.rfind(tail);
    while (end != std::string_view::npos) {
        size_t begin = end;
        while (begin > 0 && text[begin - 1] >= '0' && text[begin - 1] <= '9') --begin;
        size_t digits = end - begin;
        if (digits >= 1 && digits <= 18 && begin > 0 && text[begin - 1] == '(')
            return std::stoll(std::string(text.substr(begin, digits)));
        if (end == 0) break;
        end = text.rfind(tail, end - 1);
    }
    return -1;
}

void CheckAnnouncedSize(std::string_view text) {
    int64_t size = qv::FtpAnnouncedSize(text);
    int64_t model = ModelAnnouncedSize(text);
    QV_FUZZ_CHECK(size == model, Show(text) + " gave " + std::to_string(size) + ", model " + std::to_string(model));
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

    CheckPassive(text);
    CheckAnnouncedSize(text);
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

// A 227 reply made of the PORT argument of a host and port.
void PassiveReply(Input& in) {
    uint8_t h[4];
    for (uint8_t& b : h) b = in.Byte();
    auto port = static_cast<uint16_t>(in.U16());
    uint8_t form = in.Byte();
    std::string host = Decimal(h[0]) + "." + Decimal(h[1]) + "." + Decimal(h[2]) + "." + Decimal(h[3]);
    std::string numbers = qv::FtpPortArgument(host, port);
    std::string six = host + "." + Decimal(static_cast<uint8_t>(port >> 8)) + "." + Decimal(static_cast<uint8_t>(port));
    std::replace(six.begin(), six.end(), '.', ',');
    QV_FUZZ_CHECK(numbers == six, Show(numbers));
    QV_FUZZ_CHECK(qv::FtpPortArgument(host, static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)) == numbers, "");
    // Blanks after the commas, as some servers write them.
    std::string spaced;
    for (char c : numbers) {
        spaced += c;
        if (c == ',') spaced.append(in.Byte() % 3, ' ');
    }
    // Text before the numbers: no digits.
    std::string prefix = "Entering Passive Mode ";
    if (form & 1) {
        prefix.clear();
        for (char c : in.Text())
            if (!(c >= '0' && c <= '9')) prefix += c;
    }
    std::string suffix = in.Rest();
    std::string reply;
    if (form & 2) {
        reply = "227 " + prefix + "(" + spaced + ")" + suffix;
    } else {
        // Without parentheses a digit right after the last number would
        // belong to it.
        suffix.erase(0, suffix.find_first_not_of("0123456789"));
        reply = "227 " + prefix + spaced + suffix;
    }
    qv::FtpPassiveAddress address = qv::FtpParsePassiveAddress(reply);
    QV_FUZZ_CHECK(address.valid, Show(reply));
    QV_FUZZ_CHECK(address.host == host, Show(reply) + " gave host " + Show(address.host));
    QV_FUZZ_CHECK(address.port == port, Show(reply) + " gave port " + std::to_string(address.port));
    QV_FUZZ_CHECK(address.PortUsable() == (port != 0), Show(reply));
    AnyText(reply);
}

// Texts near the 227 form: numbers of any length among separators that are
// and are not allowed, with text and digits around them.
void PassiveNearMiss(Input& in) {
    static const char* separators[] = {",", ", ", ",  ", " ,", ",,", ";", ",\t", ")"};
    std::string text = "227";
    text += static_cast<char>(in.Byte() % 3 ? ' ' : in.Byte());
    text += in.Text();
    int count = static_cast<int>(in.Range(1, 8));
    for (int k = 0; k < count; ++k) {
        int digits = static_cast<int>(in.Range(1, 7));
        for (int d = 0; d < digits; ++d) text += static_cast<char>('0' + in.Byte() % 10);
        uint8_t sep = in.Byte();
        text += sep < 0x80 ? "," : separators[sep % 8];
        if (sep & 0x10) text.append(sep >> 5 & 3, ' ');
    }
    text += in.Rest();
    CheckPassive(text);
}

// Texts with several "(N bytes)" among near misses.
void SizeReply(Input& in) {
    static const char* forms[] = {"(%s bytes)", "(%s bytes", "(%s  bytes)", "( %s bytes)", "(%s byte)", "%s bytes)",
                                  "((%s bytes)", "(%s bytes))"};
    std::string text = "150 " + in.Text();
    while (!in.Empty()) {
        std::string digits;
        int n = static_cast<int>(in.Range(0, 21));
        for (int d = 0; d < n; ++d) digits += static_cast<char>('0' + in.Byte() % 10);
        std::string form = forms[in.Byte() % 8];
        form.replace(form.find("%s"), 2, digits);
        text += form;
        text += in.Text();
    }
    CheckAnnouncedSize(text);
}

// A 257 reply that quotes any name, its quotes doubled.
void FolderReply(Input& in) {
    std::string prefix = in.Text();
    std::erase(prefix, '"');
    std::string name = in.Text();
    std::string quoted;
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    std::string suffix = in.Rest();
    // A quote right after the closing one would read as a doubled quote.
    if (!suffix.empty() && suffix[0] == '"') suffix.insert(0, " ");
    std::string reply = "257 " + prefix + "\"" + quoted + "\"" + suffix;
    QV_FUZZ_CHECK(qv::FtpFolderFromReply(reply) == name, Show(reply) + " gave " + Show(qv::FtpFolderFromReply(reply)));
    AnyText(reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    switch (in.Byte() % 7) {
        case 0: AnyText(in.Rest()); break;
        case 1: LineStream(in.Rest()); break;
        case 2: ChunkedReply(in); break;
        case 3: PassiveReply(in); break;
        case 4: FolderReply(in); break;
        case 5: PassiveNearMiss(in); break;
        case 6: SizeReply(in); break;
    }
    return 0;
}
