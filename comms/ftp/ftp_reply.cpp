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

FtpReplyAssembler::FtpReplyAssembler() : buffer_(new char[kFtpBufferSize]) { Clear(); }

std::string_view FtpReplyAssembler::TextView() const { return std::string_view(buffer_.get(), used_); }

std::string_view FtpReplyAssembler::TextFromFifth() const {
    std::string_view text = TextView();
    return text.size() > 4 ? text.substr(4) : std::string_view();
}

void FtpReplyAssembler::Append(std::string_view text) {
    // The text ends at its first zero: a line with a zero byte in it ends the
    // text there, as it would for any reader of the zero-terminated buffer.
    // The length is kept, so joining a long multi-line reply costs what its
    // lines cost, not what the buffer holds.
    size_t room = kFtpBufferSize - 1 - used_;
    size_t n = std::min(room, text.size());
    std::memcpy(buffer_.get() + used_, text.data(), n);
    used_ += strnlen(buffer_.get() + used_, n);
    buffer_[used_] = '\0';
}

void FtpReplyAssembler::Clear() {
    std::memset(buffer_.get(), 0, kFtpBufferSize);
    used_ = 0;
}

void FtpReplyAssembler::ReplaceText(std::string_view text) {
    // The text may point into the buffer itself (a part of the reply).
    std::string copy(text);
    Clear();
    Append(copy);
}

bool FtpReplyAssembler::Feed(std::string_view line, int32_t code) {
    if (!multiLine_) {
        Clear();
        Append(line);
        replyLength_ = static_cast<int64_t>(line.size());
        overlong_ = replyLength_ > kFtpMaxReplyLength;
        if (line.size() >= 4 && line[3] == '-') {
            multiLine_ = true;
            terminator_ = std::to_string(code) + " ";
            return false;
        }
        return true;
    }
    replyLength_ += static_cast<int64_t>(line.size());
    if (replyLength_ > kFtpMaxReplyLength) overlong_ = true;
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
    std::string name;
    for (size_t i = first + 1; i < replyText.size(); ++i) {
        if (replyText[i] != '"') {
            name += replyText[i];
        } else if (i + 1 < replyText.size() && replyText[i + 1] == '"') {
            name += '"';
            ++i;
        } else {
            return name;
        }
    }
    return {};
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

FtpPassiveAddress FtpParsePassiveAddress(std::string_view replyText) {
    FtpPassiveAddress result;
    // The numbers come after the code and its separator.
    size_t i = std::min<size_t>(4, replyText.size());
    while (i < replyText.size() && !IsDigit(replyText[i])) ++i;
    uint32_t numbers[6];
    for (int k = 0; k < 6; ++k) {
        if (i >= replyText.size() || !IsDigit(replyText[i])) return result;
        uint32_t value = 0;
        size_t digits = 0;
        while (i < replyText.size() && IsDigit(replyText[i])) {
            // More than five digits can name no byte and no port part.
            if (++digits > 5) return result;
            value = value * 10 + static_cast<uint32_t>(replyText[i++] - '0');
        }
        numbers[k] = value;
        if (k < 5) {
            if (i >= replyText.size() || replyText[i] != ',') return result;
            ++i;
            while (i < replyText.size() && replyText[i] == ' ') ++i;
        }
    }
    for (int k = 0; k < 4; ++k) {
        if (numbers[k] > 255) return result;
        if (k) result.host += '.';
        result.host += std::to_string(numbers[k]);
    }
    result.valid = true;
    result.port = numbers[4] * 256 + numbers[5];
    if (numbers[4] > 255 || numbers[5] > 255) result.port = std::max<uint32_t>(result.port, 65536);
    return result;
}

int64_t FtpAnnouncedSize(std::string_view replyText) {
    // The last "(digits bytes)" of the text: a file name earlier in the
    // reply may hold parentheses of its own.
    int64_t found = -1;
    for (size_t open = replyText.find('('); open != std::string_view::npos; open = replyText.find('(', open + 1)) {
        size_t i = open + 1;
        int64_t value = 0;
        size_t digits = 0;
        while (i < replyText.size() && IsDigit(replyText[i]) && digits < 18) {
            value = value * 10 + (replyText[i++] - '0');
            ++digits;
        }
        if (digits == 0 || i >= replyText.size() || replyText[i] != ' ') continue;
        std::string_view rest = replyText.substr(i + 1);
        if (rest.size() >= 6 && rest.substr(0, 6) == "bytes)") found = value;
    }
    return found;
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
