// Entry of the FTP client's Win32 test program: the layers are started as
// the program entry starts them (the client needs nothing beyond the port
// layer), and the component classes are registered as the program does.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "comms/base/comms_base_unit.h"
#include "comms/dispatch/comms_dispatch_unit.h"
#include "comms/ftp/ftp_client.h"
#include "comms/port/comms_port_unit.h"
#include "framework/application.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The loopback peers of the tests use the platform's library directly.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    qv::Application::Instance().Initialize();
    qv::CommsBaseUnit base;
    qv::CommsDispatchUnit dispatch;
    qv::CommsPortUnit port;
    qv::RegisterFtpClasses();
    int result = RUN_ALL_TESTS();
    WSACleanup();
    return result;
}
