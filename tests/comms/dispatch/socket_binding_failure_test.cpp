// The binding's failure paths, each with its own stand-in socket module in
// a process of its own (a bound library stays loaded for the process):
//   --module=qv_standin_lacking    one of the 46 names is missing
//   --module=qv_standin_v12        start-up reports version 1.2
//   --module=qv_standin_nostart    start-up fails with 10091
// Each run selects its tests with a filter (see CMakeLists.txt).
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "comms/base/comm_errors.h"
#include "comms/base/startup.h"
#include "comms/dispatch/comm_socket.h"
#include "comms/dispatch/socket_binding.h"
#include "comms/dispatch/socket_binding_test_hooks.h"
#include "framework/application.h"

namespace qv {
namespace {

std::string Raised(const std::function<void()>& f, int32_t* code = nullptr) {
    try {
        f();
    } catch (const ESocketException& e) {
        if (code) *code = e.SocketErrorCode();
        return e.Message();
    }
    return "(nothing raised)";
}

// Every operation raises before touching the library.
void ExpectEveryOperationRaises(CommSocket& s, const std::string& text) {
    sockaddr_in a{};
    char buffer[4];
    std::vector<std::function<void()>> operations = {
        [&] { s.EnsureStarted(); },
        [&] { s.LastSockError(); },
        [&] { s.SockOpen(); },
        [&] { s.SockConnect(1, a); },
        [&] { s.SockBind(1, a); },
        [&] { s.SockListen(1, 5); },
        [&] { s.SockAccept(1, a); },
        [&] { s.SockClose(1); },
        [&] { s.SockReceive(1, buffer, 4, 0); },
        [&] { s.SockSend(1, buffer, 4, 0); },
        [&] { s.SockShutdown(1, 2); },
        [&] { s.SockSetOption(1, 0xFFFF, 4, buffer, 4); },
        [&] { s.SockSelectEvents(1, 1); },
        [&] { s.AddrToText(0); },
        [&] { s.TextToAddr("1.2.3.4"); },
        [&] { s.ResolveHostName("localhost"); },
        [&] { s.ResolveServiceName("ftp"); },
        [&] { s.PortToNet(21); },
        [&] { s.PortFromNet(21); },
    };
    for (size_t i = 0; i < operations.size(); ++i) EXPECT_EQ(Raised(operations[i]), text) << "operation " << i;
}

TEST(LackingName, BindingStopsAtTheMissingName) {
    EXPECT_FALSE(BindSocketLibrary());
    EXPECT_NE(SocketLibraryHandle(), nullptr);  // stays loaded
    for (int i = 0; i < seGetHostByName; ++i) EXPECT_NE(SocketEntryTable[i], nullptr) << SocketEntryNames[i];
    for (int i = seGetHostByName; i < kSocketEntrySlots; ++i) EXPECT_EQ(SocketEntryTable[i], nullptr) << i;
}

TEST(LackingName, ComponentFailsForGood) {
    CommSocket s(nullptr);
    EXPECT_FALSE(s.LibraryBound());
    EXPECT_EQ(s.StartupError(), 9002);
    EXPECT_EQ(s.NotifyWindow(), nullptr);
    ExpectEveryOperationRaises(s, "Winsock not initialized - Error loading Winsock DLL");
    int32_t code = 0;
    Raised([&] { s.SockOpen(); }, &code);
    EXPECT_EQ(code, 9002);
}

TEST(Version12, WindowMadeButEveryOperationRaises) {
    CommSocket s(nullptr);
    EXPECT_TRUE(s.LibraryBound());
    EXPECT_EQ(s.StartupError(), 9003);
    EXPECT_EQ(s.StartupInfo().wVersion, 0x0201);
    EXPECT_NE(s.NotifyWindow(), nullptr);
    ExpectEveryOperationRaises(s, "Winsock not initialized - Incorrect version of Winsock");
}

TEST(StartupFails, LibraryCodeKeptAndNoWindow) {
    CommSocket s(nullptr);
    EXPECT_TRUE(s.LibraryBound());
    EXPECT_EQ(s.StartupError(), 10091);
    EXPECT_EQ(s.NotifyWindow(), nullptr);
    ExpectEveryOperationRaises(s, "Winsock not initialized - " + MessageForCode(10091));
}

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--module=", 9) == 0) qv::SetSocketLibraryModuleForTests(argv[i] + 9);
    qv::Application::Instance().Initialize();
    qv::CommsBaseStartup base;
    int result = RUN_ALL_TESTS();
    qv::ReleaseSocketLibrary();
    return result;
}
