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

#include "comms/ftp/ftp_types.h"

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
// A reply whose lines together are longer than kFtpMaxReplyLength is
// Overlong() from the line that went past the limit on: the client ends the
// session rather than wait for the rest of it.
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
    bool Overlong() const { return overlong_; }
    const std::string& Terminator() const { return terminator_; }
    // Leaves multi-line assembly (the reset); the buffer keeps its text.
    void Reset() {
        multiLine_ = false;
        overlong_ = false;
    }

    // The buffer itself (kFtpBufferSize bytes), for callers that read it as
    // the client's reply buffer.
    const char* Buffer() const { return buffer_.get(); }

private:
    void Append(std::string_view text);
    void Clear();

    std::unique_ptr<char[]> buffer_;
    // The text's length: up to its first zero byte.
    size_t used_ = 0;
    // Bytes of the reply being assembled, every line counted whole.
    int64_t replyLength_ = 0;
    bool overlong_ = false;
    bool multiLine_ = false;
    std::string terminator_;
};

// Reply 257: the folder name between the first double quote and the one
// that closes it, a doubled quote inside standing for one ("/""hello"""
// gives /"hello"); empty when no closing quote follows.
std::string FtpFolderFromReply(std::string_view replyText);

// Reply 227: the six numbers h1,h2,h3,h4,p1,p2, found as the first run of
// digits and commas after the reply code (with or without parentheses
// around it). Only the port is used: the data connection goes to the
// control connection's peer, whatever host the reply names.
struct FtpPassiveAddress {
    bool valid = false;  // six numbers were found
    std::string host;    // h1.h2.h3.h4 as named, for diagnostics only
    uint32_t port = 0;   // p1 * 256 + p2; usable only from 1 to 65535
    bool PortUsable() const { return valid && port >= 1 && port <= 65535; }
};
FtpPassiveAddress FtpParsePassiveAddress(std::string_view replyText);

// The size a 150/125 reply announces in the common form "(12345 bytes)";
// -1 when it names none.
int64_t FtpAnnouncedSize(std::string_view replyText);

// The argument of "PORT ": the dotted address and the two bytes of the port
// in network order, every dot then turned into a comma:
// "10.0.0.5" with port 1031 gives "10,0,0,5,4,7".
std::string FtpPortArgument(std::string_view dottedAddress, uint8_t portHigh, uint8_t portLow);
std::string FtpPortArgument(std::string_view dottedAddress, uint16_t port);

}  // namespace qv
