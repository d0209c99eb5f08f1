// Entry of the window's test program: the communications layers start as
// the program entry starts them, since the window owns an FTP client.
#include <windows.h>

#include <gtest/gtest.h>

#include "comms/base/startup.h"
#include "comms/dispatch/startup.h"
#include "comms/port/startup.h"
#include "framework/application.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qv::Application::Instance().Initialize();
    qv::CommsBaseStartup base;
    qv::CommsDispatchStartup dispatch;
    qv::CommsPortStartup port;
    return RUN_ALL_TESTS();
}
