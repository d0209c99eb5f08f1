#include "comms/ftp/ftp_history_text.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(FtpHistoryText, EventTextOfEveryCode) {
    FtpHistoryValues v;
    v.ServerAddress = "upgrade.quotiva.example";
    v.UserName = "qvmain";
    v.RemoteFileName = "QVX.exe";
    v.LocalFileName = "D:\\Zentra\\main\\QVX.exe";
    v.BytesTransferred = 123456;
    v.RestartOffset = -7;
    struct Case {
        int code;
        const char* text;
    } cases[] = {
        {lcDisconnected, "Disconnected"},
        {lcConnected, "Connected to upgrade.quotiva.example"},
        {lcLoggedOut, "qvmain logged out"},
        {lcLoggedIn, "qvmain logged in"},
        {lcDeleting, "Deleting QVX.exe"},
        {lcRenaming, "Renaming QVX.exe"},
        {lcDownloading, "Downloading QVX.exe"},
        {lcUploading, "Uploading D:\\Zentra\\main\\QVX.exe"},
        {lcTransferComplete, "Transfer complete. 123456 bytes Transferred"},
        {lcRetransfer, "Attempting re-transfer at -7 bytes"},
        {lcTimedOut, "Transfer timed out"},
        {lcAbortedByUser, "Transfer aborted by user"},
        {12, ""},
        {-1, ""},
        {127, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(FtpHistoryEventText(c.code, v), c.text) << c.code;
}

TEST(FtpHistoryText, LineIsDateTimeColonTextAndLineEnd) {
    FtpHistoryValues v;
    v.RemoteFileName = "data file.dat";
    v.RestartOffset = 4096;
    EXPECT_EQ(FtpHistoryLine("03/07/24 14:05:09", lcDownloading, v),
              "03/07/24 14:05:09 : Downloading data file.dat\r\n");
    EXPECT_EQ(FtpHistoryLine("03/07/24", lcRetransfer, v), "03/07/24 : Attempting re-transfer at 4096 bytes\r\n");
    EXPECT_EQ(FtpHistoryLine("03/07/24 1:00:00", 99, v), "03/07/24 1:00:00 : \r\n");
}

TEST(FtpHistoryText, DateTimeFormatting) {
    FtpDateTimeParts afternoon{2024, 3, 7, 14, 5, 9, 120};
    FtpDateTimeParts morning{1999, 12, 31, 0, 0, 1, 0};
    FtpDateTimeParts midnight{2024, 1, 2, 0, 0, 0, 0};
    FtpDateTimeParts justAfter{2024, 1, 2, 0, 0, 0, 1};
    FtpDateTimeParts noon{2005, 10, 11, 12, 30, 0, 0};

    FtpDateTimeFormat start;  // the program's "mm/dd/yy", a 24-hour system time
    FtpDateTimeFormat dashes;
    dashes.DateSeparator = '-';
    dashes.LongTimeFormat = "h:mm:ss tt";
    FtpDateTimeFormat other;
    other.ShortDateFormat = "yyyy/m/d 'y'\"/\"";
    other.DateSeparator = '.';
    other.LongTimeFormat = "tt hh'h'm's'";
    other.AmDesignator = "\xa4\x57\xa4\xc8";  // two Big5 characters
    other.PmDesignator = "PM";
    FtpDateTimeFormat letter;
    letter.LongTimeFormat = "H:m:s t";

    struct Case {
        const FtpDateTimeParts& when;
        const FtpDateTimeFormat& format;
        const char* text;
    } cases[] = {
        {afternoon, start, "03/07/24 14:05:09"},
        {morning, start, "12/31/99 00:00:01"},
        {midnight, start, "01/02/24"},
        {justAfter, start, "01/02/24 00:00:00"},
        {afternoon, dashes, "03-07-24 2:05:09 PM"},
        {morning, dashes, "12-31-99 12:00:01 AM"},
        {noon, dashes, "10-11-05 12:30:00 PM"},
        {afternoon, other, "2024.3.7 y/ PM 02h5s"},
        {morning, other, "1999.12.31 y/ \xa4\x57\xa4\xc8 12h0s"},
        {afternoon, letter, "03/07/24 14:5:9 P"},
        {morning, letter, "12/31/99 0:0:1 A"},
    };
    for (const Case& c : cases) EXPECT_EQ(FtpFormatDateTime(c.when, c.format), c.text) << c.text;
}

}  // namespace
}  // namespace qv
