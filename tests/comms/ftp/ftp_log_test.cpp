// The FTP history log: one line per log code in the system's date and time
// formats, the file opened and closed per line, the runtime's I/O errors,
// and the lines a real session writes through its client.
#include <gtest/gtest.h>

#include "comms/base/comm_errors.h"
#include "tests/comms/ftp/ftp_client_test_support.h"
#include "tests/support/ftp_test_servers.h"

namespace qv::test {
namespace {

std::vector<std::string> FileLines(const std::string& path) {
    std::string text = FileContent(path);
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at) + "<no line end>");
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// The event text of a line (after the first " : "), checking that the
// date-time before it is the text of a moment between `before` and `after`.
std::string EventOf(const std::string& line, const SYSTEMTIME& before, const SYSTEMTIME& after) {
    size_t colon = line.find(" : ");
    if (colon == std::string::npos) return "<no separator> " + line;
    std::string stamp = line.substr(0, colon);
    if (stamp != FtpLog::DateTimeText(before) && stamp != FtpLog::DateTimeText(after))
        return "<date-time " + stamp + " is not " + FtpLog::DateTimeText(before) + ">";
    return line.substr(colon + 3);
}

std::string LocaleValue(LCTYPE type) {
    char buffer[128] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
    return buffer;
}

SYSTEMTIME Moment(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(mo);
    t.wDay = static_cast<WORD>(d);
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(mi);
    t.wSecond = static_cast<WORD>(s);
    t.wMilliseconds = static_cast<WORD>(ms);
    return t;
}

TEST(FtpLogDateTime, DateIsMonthDayYearWithTheSystemSeparatorAndTimeIsTheSystemsLongTime) {
    std::string separator = LocaleValue(LOCALE_SDATE);
    ASSERT_FALSE(separator.empty());
    for (SYSTEMTIME t : {Moment(2024, 3, 7, 14, 5, 9), Moment(1999, 12, 31, 9, 59, 1, 500), Moment(2031, 1, 2, 0, 0, 1)}) {
        char date[32];
        snprintf(date, sizeof date, "%02d%c%02d%c%02d", t.wMonth, separator[0], t.wDay, separator[0], t.wYear % 100);
        // The system's own rendering of its long time format.
        char time[64];
        ASSERT_GT(GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, time, sizeof time), 0);
        EXPECT_EQ(FtpLog::DateTimeText(t), std::string(date) + " " + time);
    }
    // Exactly midnight: the date alone.
    char date[32];
    snprintf(date, sizeof date, "01%c05%c24", separator[0], separator[0]);
    EXPECT_EQ(FtpLog::DateTimeText(Moment(2024, 1, 5, 0, 0, 0)), date);
}

// Changes two settings of the user's locale for one test and puts them back.
class LocaleOverride {
public:
    LocaleOverride() : separator_(LocaleValue(LOCALE_SDATE)), time_(LocaleValue(LOCALE_STIMEFORMAT)) {}
    ~LocaleOverride() {
        SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDATE, separator_.c_str());
        SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, time_.c_str());
    }
    bool Set(const char* separator, const char* time) {
        return SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDATE, separator) &&
               SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, time) && LocaleValue(LOCALE_SDATE) == separator &&
               LocaleValue(LOCALE_STIMEFORMAT) == time;
    }

private:
    std::string separator_, time_;
};

TEST(FtpLogDateTime, FollowsTheLocaleWhenItChanges) {
    LocaleOverride locale;
    if (!locale.Set("-", "HH'h'mm.ss")) GTEST_SKIP() << "the locale settings cannot be changed here";
    EXPECT_EQ(FtpLog::DateTimeText(Moment(2024, 3, 7, 14, 5, 9)), "03-07-24 14h05.09");
    ASSERT_TRUE(locale.Set(".", "h:mm:ss tt"));
    std::string pm = LocaleValue(LOCALE_S2359);
    EXPECT_EQ(FtpLog::DateTimeText(Moment(2024, 3, 7, 14, 5, 9)), "03.07.24 2:05:09 " + pm);
}

class FtpLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        log = new FtpLog(&owner);
        client = new FtpClient(&owner);  // linked: placed beside the log
        path = folder.File("COMMSFTP.HIS");
        log->SetFtpHistoryName(path);
    }
    // Writes the codes and returns the event texts of the lines written.
    std::vector<std::string> Write(std::initializer_list<int> codes) {
        SYSTEMTIME before, after;
        GetLocalTime(&before);
        for (int code : codes) log->WriteHistory(static_cast<FtpLogCode>(code));
        GetLocalTime(&after);
        std::vector<std::string> events;
        for (const std::string& line : FileLines(path)) events.push_back(EventOf(line, before, after));
        return events;
    }

    Component owner;
    FtpLog* log = nullptr;
    FtpClient* client = nullptr;
    TempFolder folder;
    std::string path;
};

TEST_F(FtpLogFile, DisabledOrNamelessWritesNothing) {
    EXPECT_FALSE(log->Enabled());
    EXPECT_EQ(log->FtpHistoryName(), path);
    for (int code = 0; code < 12; ++code) log->WriteHistory(static_cast<FtpLogCode>(code));
    EXPECT_FALSE(FileExistsAt(path));
    log->SetEnabled(true);
    log->SetFtpHistoryName("");
    log->WriteHistory(lcTimedOut);
    EXPECT_FALSE(FileExistsAt(path));
    EXPECT_EQ(FtpLog(nullptr).FtpHistoryName(), "COMMSFTP.HIS");
}

TEST_F(FtpLogFile, OneLinePerCodeQuotingTheClient) {
    ASSERT_EQ(log->GetFtpClient(), client);
    log->SetEnabled(true);
    client->SetServerAddress("upgrade.example");
    client->SetUserName("qvmain");
    client->SetRestartOffset(4096);
    std::vector<std::string> events = Write({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 127});
    EXPECT_EQ(events, (std::vector<std::string>{"Disconnected", "Connected to upgrade.example", "qvmain logged out",
                                                "qvmain logged in", "Deleting ", "Renaming ", "Downloading ",
                                                "Uploading ", "Transfer complete. 0 bytes Transferred",
                                                "Attempting re-transfer at 4096 bytes", "Transfer timed out",
                                                "Transfer aborted by user", "", ""}));
    // Plain text lines, each with CR LF, nothing else in the file.
    std::string text = FileContent(path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 14);
    EXPECT_EQ(text.substr(text.size() - 5), " : \r\n");
}

TEST_F(FtpLogFile, AppendsToWhatIsThereAndStopsAtAnEndOfFileMark) {
    log->SetEnabled(true);
    WriteFileContent(path, "earlier line\r\n\x1a old rubbish after the mark");
    log->WriteHistory(lcTimedOut);
    std::vector<std::string> lines = FileLines(path);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "earlier line");
    EXPECT_EQ(lines[1].substr(lines[1].size() - 21), " : Transfer timed out");
    // Held open only while a line is written: another program may delete it
    // between two lines.
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    log->WriteHistory(lcAbortedByUser);
    EXPECT_EQ(FileLines(path).size(), 1u);
}

TEST_F(FtpLogFile, InputOutputErrorsAreRaised) {
    log->SetEnabled(true);
    log->SetFtpHistoryName(folder.Path() + "\\no_such_folder\\COMMSFTP.HIS");
    try {
        log->WriteHistory(lcTimedOut);
        ADD_FAILURE() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 3);
        EXPECT_EQ(e.Message(), MessageForCode(3));
    }
    // Held by another program without sharing: opening fails with 32, and
    // so does making it anew.
    log->SetFtpHistoryName(path);
    WriteFileContent(path, "x\r\n");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    try {
        log->WriteHistory(lcTimedOut);
        ADD_FAILURE() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 32);
    }
    CloseHandle(held);
    EXPECT_EQ(FileContent(path), "x\r\n");
}

TEST(FtpLogSession, ASessionWritesThroughItsClient) {
    FtpTestServer server = FtpTestServer::FromEnvironment();
    TempFolder folder;
    RecordedClient r;
    auto* log = new FtpLog(&r.owner);
    ASSERT_EQ(r.client->GetFtpLog(), log);
    std::string path = folder.File("COMMSFTP.HIS");
    log->SetFtpHistoryName(path);
    log->SetEnabled(true);
    r.Target(server.port, server.user, server.password);
    r.client->SetPassiveMode(true);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    SYSTEMTIME before;
    GetLocalTime(&before);

    std::string local = folder.File("QVX.exe");
    ASSERT_TRUE(r.client->DownloadFile("QVX_upgrade/QVX.exe", local, dmReplace));
    ASSERT_TRUE(r.WaitStatus(scTransferComplete)) << r.History();
    WriteFileContent(local, std::string(1000, 'a'));
    r.client->SetRestartOffset(-1);
    size_t from = r.events.size();
    ASSERT_TRUE(r.client->DownloadFile("QVX_upgrade/QVX.exe", local, dmRestart));
    ASSERT_TRUE(r.WaitStatus(scTransferComplete, from)) << r.History();
    r.LogOutAndSettle();
    SYSTEMTIME after;
    GetLocalTime(&after);

    std::vector<std::string> events;
    for (const std::string& line : FileLines(path)) events.push_back(EventOf(line, before, after));
    EXPECT_EQ(events, (std::vector<std::string>{"Downloading QVX_upgrade/QVX.exe",
                                                "Attempting re-transfer at 1000 bytes", server.user + " logged out"}));
    // With a log linked, OnFtpLog is never fired.
    EXPECT_EQ(r.Count(FtpEvent::Log), 0);
}

TEST(FtpLogSession, AnUnwritableLogReachesTheExceptionReportAndTheClientGoesOn) {
    FtpTestServer server = FtpTestServer::FromEnvironment();
    TempFolder folder;
    ReportCapture reports;
    RecordedClient r;
    auto* log = new FtpLog(&r.owner);
    log->SetFtpHistoryName(folder.Path() + "\\no_such_folder\\COMMSFTP.HIS");
    log->SetEnabled(true);
    r.Target(server.port, server.user, server.password);
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
    r.LogOutAndSettle();
    EXPECT_EQ(reports.reports, (std::vector<std::string>{MessageForCode(3)}));
    EXPECT_EQ(r.Statuses(), (std::vector<int>{scConnected, scLoggedIn, scLoggedOut, scDisconnected})) << r.History();
    // And it logs in again afterwards.
    ASSERT_TRUE(r.LogInAndWait()) << r.History();
}

}  // namespace
}  // namespace qv::test
