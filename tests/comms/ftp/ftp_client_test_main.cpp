// Entry of the FTP client's Win32 test program: the layers are started as
// the program entry starts them (the client needs nothing beyond the port
// layer), and the component classes are registered as the program does.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "comms/base/startup.h"
#include "comms/dispatch/startup.h"
#include "comms/ftp/ftp_client.h"
#include "comms/port/startup.h"
#include "framework/application.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The loopback peers of the tests use the platform's library directly.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    qv::Application::Instance().Initialize();
    qv::CommsBaseStartup base;
    qv::CommsDispatchStartup dispatch;
    qv::CommsPortStartup port;
    qv::RegisterFtpClasses();
    int result = RUN_ALL_TESTS();
    WSACleanup();
    return result;
}
