// The message tables, the reader, MessageForCode, the exception mapping and
// the Win32 helpers, in a real Windows process (under Wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "comms/base/comm_errors.h"
#include "comms/base/comm_misc.h"
#include "comms/base/startup.h"
#include "comms/base/string_resource.h"
#include "framework/component.h"

namespace qv {
namespace {

HMODULE Self() { return GetModuleHandleW(nullptr); }

std::string ReaderError(const std::function<void()>& f) {
    try {
        f();
    } catch (const EStringResourceError& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

TEST(StringResource, ErrorTableCarriesTheTexts) {
    ASSERT_NE(ErrorStrings, nullptr);
    struct Case {
        int32_t id;
        const char* text;
    } cases[] = {
        {0, "OK"},
        {2, "File not found"},
        {2007, "ie_NOpen - device not open"},
        {5506, "Packet too long"},
        {9004, "Winsock not initialized - %s"},
        {10061, "The attempt to connect was forcibly refused"},
        {11004, "Valid name, but no data record of requested type"},
        {15001, "No event"},
        {15344, "StringPacket"},
        {15501, "Time      Type      SubType       Data      OtherData"},
        {15601, "DCTS "},
        {15724, "Terminal Type"},
        {4600, ""},    // carried with an empty text
        {4601, ""},    // not carried at all
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorStrings->TextById(c.id), c.text) << c.id;
}

TEST(StringResource, ReaderMessagesAndRefusedTables) {
    EXPECT_EQ(ReaderError([] { StringResource r(Self(), "NO_SUCH_TABLE"); }),
              "String resource not found: NO_SUCH_TABLE");
    EXPECT_EQ(ReaderError([] { StringResource r(Self(), "QV_TEST_BAD_MAGIC"); }), "Invalid string table resource");
    EXPECT_EQ(ReaderError([] { StringResource r(Self(), "QV_TEST_TRUNCATED"); }), "Invalid string table resource");
    EXPECT_EQ(ReaderError([] { StringResource r(Self(), "QV_TEST_OUT_OF_RANGE"); }),
              "Invalid string table resource");

    // A refused table stays held, but no lookup reads from it.
    StringResource held(Self(), "");
    EXPECT_EQ(ReaderError([&] { held.OpenResource(Self(), "QV_TEST_OUT_OF_RANGE"); }),
              "Invalid string table resource");
    EXPECT_TRUE(held.HasTable());
    EXPECT_EQ(ReaderError([&] { held.TextById(7); }), "Invalid string table resource");
    held.CloseResource();
    EXPECT_EQ(ReaderError([&] { held.TextById(7); }), "Cannot lock resource");
}

TEST(StringResource, SmallTablesAndRaiseOnMissing) {
    StringResource empty(Self(), "QV_TEST_EMPTY");
    EXPECT_EQ(empty.TextById(0), "");
    StringResource one(Self(), "QV_TEST_ONE");
    EXPECT_EQ(one.TextById(42), "hi");
    EXPECT_EQ(one.TextById(41), "");
    one.RaiseOnMissing = true;
    EXPECT_EQ(ReaderError([&] { one.TextById(43); }), "String not found: 43");
    EXPECT_EQ(one.TextById(42), "hi");
    // A reader made without a name holds nothing.
    StringResource none(Self(), "");
    EXPECT_EQ(ReaderError([&] { none.TextById(1); }), "Cannot lock resource");
}

TEST(MessageForCode, TableTextsSystemTextsAndNothing) {
    EXPECT_EQ(MessageForCode(-2007), "ie_NOpen - device not open");
    EXPECT_EQ(MessageForCode(2007), "ie_NOpen - device not open");
    EXPECT_EQ(MessageForCode(0), "OK");
    // The key is the code taken as a 16-bit number: 65536 + 2007 is 2007.
    EXPECT_EQ(MessageForCode(65536 + 2007), "ie_NOpen - device not open");

    // A number the table lacks but the system knows (87, invalid parameter):
    // the system's text, one line, no double blanks.
    std::string system = MessageForCode(87);
    ASSERT_FALSE(system.empty());
    EXPECT_EQ(system.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(system.find("  "), std::string::npos);
    EXPECT_LE(system.size(), 255u);
    // A number nobody knows gives the empty text.
    EXPECT_EQ(MessageForCode(31999), "");
}

struct Raised {
    std::string kind;
    std::string message;
    int32_t code = 0;
};

template <class E>
bool Is(const std::exception& e) {
    return dynamic_cast<const E*>(&e) != nullptr;
}

TEST(CheckErrorCode, EveryFamilyAndTheFallbacks) {
    struct Case {
        int32_t code;
        std::function<bool(const std::exception&)> isClass;
        const char* family;
        int32_t errorCode;  // ECommException::ErrorCode, or the I/O error number
        const char* message;
    };
    const Case cases[] = {
        {-2, Is<EInOutError>, "EInOutError", 2, "File not found"},
        {-162, Is<EInOutError>, "EInOutError", 162, "General failure"},
        {-8, Is<EOutOfMemory>, "EOutOfMemory", 0, "Out of memory"},
        {-1002, Is<EBadArgument>, "EGeneral", -1002, "Bad argument passed to function"},
        {-1006, Is<EInternal>, "EGeneral", -1006, "Internal error creating window class"},
        {-7003, Is<EInternal>, "EGeneral", -7003, ""},
        {-2007, Is<ECommNotOpen>, "EOpenComm", -2007, "ie_NOpen - device not open"},
        {-2012, Is<ENotOpenedByTapi>, "EOpenComm", -2012, "Comport was not opened by Tapi"},
        {-3001, Is<ENullApi>, "ESerialIO", -3001, "No device layer specified"},
        {-3006, Is<EOutputBufferTooSmall>, "ESerialIO", -3006, "Output buffer too small for block"},
        {-4003, Is<EModemNotDialing>, "EModem", -4003, ""},
        {-5003, Is<EBadTriggerHandle>, "ETrigger", -5003, "Bad trigger handle"},
        {-6008, Is<EProtocol>, "EProtocol", -6008, ""},
        {-7014, Is<EBadFieldForIndex>, "EINI", -7014, ""},
        {-8053, Is<EInvalidPageNumber>, "EFax", -8053, ""},
        {-8070, Is<EFaxPageError>, "EFax", -8070, ""},
        {-13801, Is<ETapiAllocated>, "ETapi", -13801, ""},
        {-13942, Is<ETapiTranslateFail>, "ETapi", -13942, ""},
        {-13980, Is<ERasLoadFail>, "ERas", -13980, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        try {
            CheckErrorCode(nullptr, c.code);
            ADD_FAILURE() << "nothing raised";
        } catch (const std::exception& e) {
            EXPECT_TRUE(c.isClass(e)) << typeid(e).name();
            EXPECT_EQ(ExceptionText(e), c.message);
            if (auto* comm = dynamic_cast<const ECommException*>(&e)) {
                EXPECT_EQ(comm->ErrorCode(), c.errorCode);
            }
            if (auto* io = dynamic_cast<const EInOutError*>(&e)) {
                EXPECT_EQ(io->ErrorCode(), c.errorCode);
            }
        }
    }
    // Families are what the layers above catch.
    EXPECT_THROW(CheckErrorCode(nullptr, -2003), EOpenComm);
    EXPECT_THROW(CheckErrorCode(nullptr, -13850), ETapi);
}

TEST(CheckErrorCode, UnmappedCodesRaiseTheGenericExceptionWithCodeZero) {
    for (int32_t code : {-1, -1001, -5001, -163, -3002, -13804, -13849, -32767}) {
        SCOPED_TRACE(code);
        try {
            CheckErrorCode(nullptr, code);
            ADD_FAILURE() << "nothing raised";
        } catch (const ECommException& e) {
            EXPECT_EQ(typeid(e), typeid(ECommException));
            EXPECT_EQ(e.Message(), "Communications exception");
            EXPECT_EQ(e.ErrorCode(), 0);
        }
    }
}

TEST(CheckErrorCode, ResultsAndLoadingComponentsPassThrough) {
    Component c;
    EXPECT_EQ(CheckErrorCode(&c, 5), 5);
    EXPECT_EQ(CheckErrorCode(&c, 0), 0);
    c.SetLoading(true);
    EXPECT_EQ(CheckErrorCode(&c, -2007), -2007);
    EXPECT_EQ(CheckErrorCode(&c, -2), -2);
    c.Loaded();
    EXPECT_THROW(CheckErrorCode(&c, -2007), ECommNotOpen);
}

TEST(ECommException, BothConstructors) {
    ECommException fromCode(-9006);
    EXPECT_EQ(fromCode.ErrorCode(), -9006);
    EXPECT_EQ(fromCode.Message(), "Cannot change parameter while socket is connected");
    EBadId fromText("custom");
    EXPECT_EQ(fromText.ErrorCode(), 0);
    EXPECT_EQ(fromText.Message(), "custom");
}

// ---- clock, pump, delay, file test ----

TEST(Clock, CalibrationRule) {
    struct Case {
        int64_t frequency;
        uint32_t ticksPerMs;
    } cases[] = {{0, 0}, {10'000'000, 10000}, {3'579'545, 3580}, {1'193'182, 1193}, {1500, 1}, {1501, 2},
                 {1'000'500, 1000}, {1'000'501, 1001}, {int64_t(1) << 32, 0}, {(int64_t(1) << 32) + 5000, 0}};
    for (const Case& c : cases) EXPECT_EQ(CalibrationForFrequency(c.frequency), c.ticksPerMs) << c.frequency;
}

TEST(Clock, MillisecondClockAdvancesWithRealTime) {
    uint32_t a = MillisecondClock();
    Sleep(120);
    uint32_t elapsed = MillisecondClock() - a;
    EXPECT_GE(elapsed, 100u);
    EXPECT_LT(elapsed, 2000u);
}

class QuitDrainer {
public:
    // Removes a pending quit request, so one test's quit does not end the next.
    ~QuitDrainer() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
};

TEST(Pump, DelayTicksZeroTouchesNothing) {
    QuitDrainer drain;
    PostThreadMessageW(GetCurrentThreadId(), WM_USER + 7, 0, 0);
    EXPECT_EQ(DelayTicks(0, true), 0u);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 7u);
}

TEST(Pump, QuitRequestEndsTheDelayAndStaysPending) {
    QuitDrainer drain;
    PostQuitMessage(3);
    uint32_t before = MillisecondClock();
    EXPECT_EQ(DelayTicks(5, true), 18u);
    EXPECT_LT(MillisecondClock() - before, 200u);  // at once, not after 5 ticks
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
    // PumpOneMessage alone: 18 and the request posted again.
    PostQuitMessage(4);
    EXPECT_EQ(PumpOneMessage(), 18u);
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
}

TEST(Pump, DelayTicksPumpsMessagesAndWaitsItsTicks) {
    QuitDrainer drain;
    EXPECT_EQ(PumpOneMessage(), 0u);
    PostThreadMessageW(GetCurrentThreadId(), WM_USER + 1, 0, 0);
    uint32_t before = MillisecondClock();
    DelayTicks(3, true);
    uint32_t elapsed = MillisecondClock() - before;
    EXPECT_GE(elapsed, 3 * 55u - 55u);  // at least the ticks (tick boundaries are coarse)
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_USER + 1, WM_USER + 1, PM_NOREMOVE));  // it was handled
}

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qv::CommsBaseStartup unit;
    return RUN_ALL_TESTS();
}
