// Reply handling of the FTP control connection that needs no platform: the
// code of a reply line, joining multi-line replies in the fixed reply buffer,
// and the texts the client takes out of replies 257 (current folder) and 227
// (passive data address), plus the argument of the PORT command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

// Size of the client's reply and data buffers, terminating zero included:
// at most 32,768 characters of text fit.
inline constexpr size_t kFtpBufferSize = 32769;

// The number in the first three characters of a line, 0 when those are not
// three decimal digits (a line shorter than three characters gives 0 too).
int32_t FtpReplyCode(std::string_view line);

// The reply buffer and the multi-line state of the reply reader.
//
// Feed() takes each received line (CR LF included) with its code:
//  - not assembling: the buffer is zero-filled and the line copied in; a
//    fourth character "-" starts a multi-line reply whose terminator is the
//    code in decimal followed by one blank;
//  - assembling: a line that does not begin with the terminator is appended
//    to the text; the line that does ends the reply without being added.
// Feed() returns true when a reply is complete and must be acted on (with the
// code of the line just fed). Text that does not fit is cut at the buffer's
// end; the buffer always ends with a zero and nothing is written past it.
class FtpReplyAssembler {
public:
    FtpReplyAssembler();

    bool Feed(std::string_view line, int32_t code);

    // The zero-terminated text of the buffer (up to its first zero byte).
    const char* Text() const { return buffer_.get(); }
    std::string_view TextView() const;
    // The text without its first four characters (the code and the blank or
    // hyphen after it); empty when the text is shorter.
    std::string_view TextFromFifth() const;

    // Makes the text the whole new content of the buffer (cut to fit).
    void ReplaceText(std::string_view text);

    bool Assembling() const { return multiLine_; }
    const std::string& Terminator() const { return terminator_; }
    // Leaves multi-line assembly (the reset); the buffer keeps its text.
    void Reset() { multiLine_ = false; }

    // The buffer itself (kFtpBufferSize bytes), for callers that read it as
    // the client's reply buffer.
    const char* Buffer() const { return buffer_.get(); }

private:
    void Append(std::string_view text);

    std::unique_ptr<char[]> buffer_;
    bool multiLine_ = false;
    std::string terminator_;
};

// Reply 257: the text between the first and the second double quote, empty
// when there are fewer than two.
std::string FtpFolderFromReply(std::string_view replyText);

// Reply 227: the address the data connection connects to.
struct FtpPassiveAddress {
    std::string host;   // the text given to the address conversion
    uint16_t port = 0;  // host byte order
};
// Takes the text after the first "(" up to the next ")" (from the start when
// there is no "(", empty when there is no ")"), turns its first three commas
// into dots, and splits host, p1 and p2 at the fourth and fifth comma. p1 and
// p2 that are not decimal numbers count as 0; port = (p1 * 256 + p2) mod 65536.
FtpPassiveAddress FtpParsePassiveAddress(std::string_view replyText);

// The argument of "PORT ": the dotted address and the two bytes of the port
// in network order, every dot then turned into a comma:
// "10.0.0.5" with port 1031 gives "10,0,0,5,4,7".
std::string FtpPortArgument(std::string_view dottedAddress, uint8_t portHigh, uint8_t portLow);
std::string FtpPortArgument(std::string_view dottedAddress, uint16_t port);

}  // namespace qv
