#include "comms/ftp/ftp_reply.h"

#include <algorithm>
#include <cstring>

namespace qv {

int32_t FtpReplyCode(std::string_view line) {
    if (line.size() < 3) return 0;
    int32_t value = 0;
    for (size_t i = 0; i < 3; ++i) {
        char c = line[i];
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

FtpReplyAssembler::FtpReplyAssembler() : buffer_(new char[kFtpBufferSize]) {
    std::memset(buffer_.get(), 0, kFtpBufferSize);
}

std::string_view FtpReplyAssembler::TextView() const {
    return std::string_view(buffer_.get(), strnlen(buffer_.get(), kFtpBufferSize - 1));
}

std::string_view FtpReplyAssembler::TextFromFifth() const {
    std::string_view text = TextView();
    return text.size() > 4 ? text.substr(4) : std::string_view();
}

void FtpReplyAssembler::Append(std::string_view text) {
    // The text ends at its first zero: a line with a zero byte in it ends the
    // text there, as it would for any reader of the zero-terminated buffer.
    size_t used = strnlen(buffer_.get(), kFtpBufferSize - 1);
    size_t room = kFtpBufferSize - 1 - used;
    size_t n = std::min(room, text.size());
    std::memcpy(buffer_.get() + used, text.data(), n);
    buffer_[used + n] = '\0';
}

void FtpReplyAssembler::ReplaceText(std::string_view text) {
    // The text may point into the buffer itself (a part of the reply).
    std::string copy(text);
    std::memset(buffer_.get(), 0, kFtpBufferSize);
    Append(copy);
}

bool FtpReplyAssembler::Feed(std::string_view line, int32_t code) {
    if (!multiLine_) {
        std::memset(buffer_.get(), 0, kFtpBufferSize);
        Append(line);
        if (line.size() >= 4 && line[3] == '-') {
            multiLine_ = true;
            terminator_ = std::to_string(code) + " ";
            return false;
        }
        return true;
    }
    if (line.substr(0, terminator_.size()) != terminator_) {
        Append(line);
        return false;
    }
    multiLine_ = false;
    return true;
}

std::string FtpFolderFromReply(std::string_view replyText) {
    size_t first = replyText.find('"');
    if (first == std::string_view::npos) return {};
    size_t second = replyText.find('"', first + 1);
    if (second == std::string_view::npos) return {};
    return std::string(replyText.substr(first + 1, second - first - 1));
}

namespace {

// A decimal number with optional leading blanks and sign; 0 when the text is
// anything else or does not fit 32 bits.
int64_t DecimalOrZero(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return 0;
    int64_t value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return 0;
        value = value * 10 + (s[i] - '0');
        if (value > int64_t(INT32_MAX) + 1) return 0;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return 0;
    return value;
}

}  // namespace

FtpPassiveAddress FtpParsePassiveAddress(std::string_view replyText) {
    size_t open = replyText.find('(');
    size_t start = open == std::string_view::npos ? 0 : open + 1;
    size_t close = replyText.find(')', start);
    std::string text = close == std::string_view::npos
                           ? std::string()
                           : std::string(replyText.substr(start, close - start));

    size_t commas[5];
    size_t found = 0;
    for (size_t i = 0; i < text.size() && found < 5; ++i)
        if (text[i] == ',') commas[found++] = i;
    for (size_t k = 0; k < std::min<size_t>(found, 3); ++k) text[commas[k]] = '.';

    FtpPassiveAddress result;
    std::string_view view(text);
    std::string_view p1, p2;
    if (found < 4) {
        result.host = text;
    } else {
        result.host = text.substr(0, commas[3]);
        if (found < 5) {
            p2 = view.substr(commas[3] + 1);
        } else {
            p1 = view.substr(commas[3] + 1, commas[4] - commas[3] - 1);
            p2 = view.substr(commas[4] + 1);
        }
    }
    int64_t port = DecimalOrZero(p1) * 256 + DecimalOrZero(p2);
    result.port = static_cast<uint16_t>(static_cast<uint64_t>(port) & 0xFFFF);
    return result;
}

std::string FtpPortArgument(std::string_view dottedAddress, uint8_t portHigh, uint8_t portLow) {
    std::string text(dottedAddress);
    text += '.';
    text += std::to_string(portHigh);
    text += '.';
    text += std::to_string(portLow);
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

std::string FtpPortArgument(std::string_view dottedAddress, uint16_t port) {
    return FtpPortArgument(dottedAddress, static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port & 0xFF));
}

}  // namespace qv
