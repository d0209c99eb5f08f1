// Texts of the FTP history file: the event text of each log code, the line
// written for it, and the date-time text in front of it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "comms/ftp/ftp_types.h"

namespace qv {

// The client's values that event texts quote, read when the line is written.
struct FtpHistoryValues {
    std::string ServerAddress;
    std::string UserName;
    std::string RemoteFileName;  // of the last download started
    std::string LocalFileName;   // of the last download started
    int32_t BytesTransferred = 0;
    int32_t RestartOffset = 0;
};

// The event text of a log code; empty for a value outside 0..11.
std::string FtpHistoryEventText(int logCode, const FtpHistoryValues& values);

// One line of the history file as written: date-time, " : ", the event text
// and CR LF.
std::string FtpHistoryLine(std::string_view dateTimeText, int logCode, const FtpHistoryValues& values);

// A local date and time, already broken into its parts.
struct FtpDateTimeParts {
    int Year = 1;     // full year, e.g. 2024
    int Month = 1;    // 1..12
    int Day = 1;      // 1..31
    int Hour = 0;     // 0..23
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// How the date-time text is formed.
//  - ShortDateFormat uses the runtime's letters: d, dd, m, mm, yy, yyyy;
//    "/" stands for DateSeparator; text in single or double quotes and any
//    other character is copied. The program's start-up sets "mm/dd/yy".
//  - LongTimeFormat is written as the system's locale gives it: h, hh
//    (12-hour), H, HH (24-hour), m, mm, s, ss, t (first letter of the AM/PM
//    designator), tt (the whole designator), text in single quotes copied,
//    any other character copied.
struct FtpDateTimeFormat {
    std::string ShortDateFormat = "mm/dd/yy";
    char DateSeparator = '/';
    std::string LongTimeFormat = "HH:mm:ss";
    std::string AmDesignator = "AM";
    std::string PmDesignator = "PM";
};

// The date in the short date format, one blank and the time in the long time
// format; the time is left out at exactly midnight.
std::string FtpFormatDateTime(const FtpDateTimeParts& when, const FtpDateTimeFormat& format);

}  // namespace qv
