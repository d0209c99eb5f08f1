// Entry of the window's test program: the communications layers start as
// the program entry starts them, since the window owns an FTP client.
#include <windows.h>

#include <gtest/gtest.h>

#include "comms/base/comms_base_unit.h"
#include "comms/dispatch/comms_dispatch_unit.h"
#include "comms/port/comms_port_unit.h"
#include "framework/application.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qv::Application::Instance().Initialize();
    qv::CommsBaseUnit base;
    qv::CommsDispatchUnit dispatch;
    qv::CommsPortUnit port;
    return RUN_ALL_TESTS();
}
