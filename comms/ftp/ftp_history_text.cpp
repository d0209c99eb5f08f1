#include "comms/ftp/ftp_history_text.h"

#include <cstdio>

namespace qv {

std::string FtpHistoryEventText(int logCode, const FtpHistoryValues& v) {
    switch (logCode) {
    case lcDisconnected: return "Disconnected";
    case lcConnected: return "Connected to " + v.ServerAddress;
    case lcLoggedOut: return v.UserName + " logged out";
    case lcLoggedIn: return v.UserName + " logged in";
    case lcDeleting: return "Deleting " + v.RemoteFileName;
    case lcRenaming: return "Renaming " + v.RemoteFileName;
    case lcDownloading: return "Downloading " + v.RemoteFileName;
    case lcUploading: return "Uploading " + v.LocalFileName;
    case lcTransferComplete:
        return "Transfer complete. " + std::to_string(v.BytesTransferred) + " bytes Transferred";
    case lcRetransfer: return "Attempting re-transfer at " + std::to_string(v.RestartOffset) + " bytes";
    case lcTimedOut: return "Transfer timed out";
    case lcAbortedByUser: return "Transfer aborted by user";
    default: return {};
    }
}

std::string FtpHistoryLine(std::string_view dateTimeText, int logCode, const FtpHistoryValues& values) {
    std::string line(dateTimeText);
    line += " : ";
    line += FtpHistoryEventText(logCode, values);
    line += "\r\n";
    return line;
}

namespace {

void AppendNumber(std::string& out, int value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*d", digits, value);
    out += text;
}

// Length of the run of the same character starting at i.
size_t RunLength(std::string_view s, size_t i) {
    size_t n = 1;
    while (i + n < s.size() && s[i + n] == s[i]) ++n;
    return n;
}

// Copies quoted text (the quote character at i) and returns the index after it.
size_t CopyQuoted(std::string_view s, size_t i, std::string& out) {
    char quote = s[i];
    size_t end = s.find(quote, i + 1);
    if (end == std::string_view::npos) end = s.size();
    out.append(s.substr(i + 1, end - i - 1));
    return end == s.size() ? end : end + 1;
}

std::string FormatDate(const FtpDateTimeParts& when, const FtpDateTimeFormat& format) {
    std::string out;
    std::string_view f = format.ShortDateFormat;
    for (size_t i = 0; i < f.size();) {
        char c = f[i];
        char lower = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        if (c == '\'' || c == '"') {
            i = CopyQuoted(f, i, out);
            continue;
        }
        size_t n = RunLength(f, i);
        if (lower == 'd' || lower == 'm') {
            // Day and month names need locale data; runs longer than two
            // give the two-digit number.
            AppendNumber(out, lower == 'd' ? when.Day : when.Month, n == 1 ? 1 : 2);
        } else if (lower == 'y') {
            if (n <= 2) AppendNumber(out, when.Year % 100, 2);
            else AppendNumber(out, when.Year, 4);
        } else if (c == '/') {
            out.append(n, format.DateSeparator);
        } else {
            out.append(n, c);
        }
        i += n;
    }
    return out;
}

std::string FormatTime(const FtpDateTimeParts& when, const FtpDateTimeFormat& format) {
    std::string out;
    std::string_view f = format.LongTimeFormat;
    const std::string& designator = when.Hour < 12 ? format.AmDesignator : format.PmDesignator;
    for (size_t i = 0; i < f.size();) {
        char c = f[i];
        if (c == '\'') {
            i = CopyQuoted(f, i, out);
            continue;
        }
        size_t n = RunLength(f, i);
        int digits = n == 1 ? 1 : 2;
        switch (c) {
        case 'h': AppendNumber(out, when.Hour % 12 == 0 ? 12 : when.Hour % 12, digits); break;
        case 'H': AppendNumber(out, when.Hour, digits); break;
        case 'm': AppendNumber(out, when.Minute, digits); break;
        case 's': AppendNumber(out, when.Second, digits); break;
        case 't':
            if (n == 1) out.append(designator.substr(0, 1));
            else out.append(designator);
            break;
        default: out.append(n, c); break;
        }
        i += n;
    }
    return out;
}

}  // namespace

std::string FtpFormatDateTime(const FtpDateTimeParts& when, const FtpDateTimeFormat& format) {
    std::string text = FormatDate(when, format);
    bool midnight = when.Hour == 0 && when.Minute == 0 && when.Second == 0 && when.Millisecond == 0;
    if (!midnight) {
        text += ' ';
        text += FormatTime(when, format);
    }
    return text;
}

}  // namespace qv
