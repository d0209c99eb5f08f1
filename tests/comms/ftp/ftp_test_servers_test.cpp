// The test FTP servers as Windows test programs meet them under Wine: the
// fixtures' real server and the scripted-peer service, reached through Wine's
// sockets, with passive and active data connections.
#include "tests/support/ftp_test_servers.h"

#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include "comms/ftp/ftp_reply.h"

namespace qv::test {
namespace {

std::string ReceiveAll(SOCKET s) {
    std::string data;
    char buffer[32769];
    for (;;) {
        int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

SOCKET ConnectData(const FtpPassiveAddress& address) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr(address.host.c_str());
    to.sin_port = htons(address.port);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << WSAGetLastError();
    return s;
}

// A listening socket on the control connection's local address and the
// PORT command naming it, as the client's active mode does.
struct ActiveListener {
    SOCKET socket = INVALID_SOCKET;
    std::string command;

    explicit ActiveListener(const BlockingFtpControl& control) {
        sockaddr_in address = control.LocalAddress();
        address.sin_port = 0;
        socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_EQ(bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        int length = sizeof address;
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
        EXPECT_EQ(listen(socket, 5), 0);
        const auto* port = reinterpret_cast<const uint8_t*>(&address.sin_port);
        command = "PORT " + FtpPortArgument(inet_ntoa(address.sin_addr), port[0], port[1]);
    }
    ~ActiveListener() { closesocket(socket); }
    SOCKET Accept() { return accept(socket, nullptr, nullptr); }
};

TEST(ScriptedPeerFromWindows, StoredScenarioPassesAgainstAFaithfulSession) {
    ScriptedPeer peer;
    uint16_t port = peer.Run("greeting_three_lines");
    {
        BlockingFtpControl control(port);
        BlockingFtpControl::Reply greeting = control.Read();
        EXPECT_EQ(greeting.code, 220);
        EXPECT_EQ(greeting.text, "220-Welcome\r\n220-Hello\r\n220 Ready\r\n");
        control.Expect("USER test", 331);
        control.Expect("PASS secret", 230);
        control.Expect("QUIT", 221);
    }
    PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();
    EXPECT_FALSE(verdict.log.empty());
}

TEST(ScriptedPeerFromWindows, AWrongCommandFailsNamingTheStep) {
    ScriptedPeer peer;
    uint16_t port = peer.RunScript("reply \"220 Ready\"\nexpect \"USER test\"\n");
    BlockingFtpControl control(port);
    EXPECT_EQ(control.Read().code, 220);
    control.Send("USER other");
    PeerVerdict verdict = peer.Wait(30);
    EXPECT_FALSE(verdict.passed);
    EXPECT_EQ(verdict.message, "step 2 (line 2: expect \"USER test\"): received b'USER other'");
}

TEST(ScriptedPeerFromWindows, PeerConnectsToTheAddressOfThePortCommand) {
    ScriptedPeer peer;
    uint16_t port = peer.Run("active_listing");
    {
        BlockingFtpControl control(port);
        control.LogIn("test", "secret");
        ActiveListener listener(control);
        control.Expect(listener.command, 200);
        control.Expect("TYPE A", 200);
        control.Send("NLST");
        SOCKET data = listener.Accept();
        ASSERT_NE(data, INVALID_SOCKET);
        EXPECT_EQ(control.Read().code, 150);
        EXPECT_EQ(ReceiveAll(data), "a.bin\r\nb.bin\r\n");
        closesocket(data);
        EXPECT_EQ(control.Read().code, 226);
        control.Expect("QUIT", 221);
    }
    PeerVerdict verdict = peer.Wait(30);
    EXPECT_TRUE(verdict.passed) << verdict.Report();
}

TEST(ScriptedPeerFromWindows, RefusedScenarioRefusesTheConnection) {
    ScriptedPeer peer;
    uint16_t port = peer.Run("control_refused");
    EXPECT_THROW(BlockingFtpControl control(port), TestServerError);
    EXPECT_TRUE(peer.Wait(30).passed);
}

TEST(FtpTestServerFromWindows, DownloadsMatchTheServedFileInBothModes) {
    FtpTestServer server = FtpTestServer::FromEnvironment();
    const std::string expected = server.ServedFile("QVX_upgrade\\sample.bin");
    ASSERT_EQ(expected.size(), 200u * 1024);

    BlockingFtpControl control(server.port);
    control.LogIn(server.user, server.password);
    control.Expect("CWD //QVX_upgrade", 250);
    control.Expect("TYPE I", 200);

    // Passive.
    BlockingFtpControl::Reply pasv = control.Expect("PASV", 227);
    FtpPassiveAddress address = FtpParsePassiveAddress(pasv.text);
    EXPECT_EQ(address.host, "127.0.0.1");
    SOCKET data = ConnectData(address);
    // 125 ("already open") when the server has taken the data connection
    // before it reads RETR, 150 when it takes it a moment later: the
    // connect returns once the system has the connection, not the server.
    int code = control.Command("RETR sample.bin").code;
    EXPECT_TRUE(code == 125 || code == 150) << code;
    EXPECT_EQ(ReceiveAll(data), expected);
    closesocket(data);
    EXPECT_EQ(control.Read().code, 226);

    // Active.
    {
        ActiveListener listener(control);
        control.Expect(listener.command, 200);
        control.Send("RETR sample.bin");
        data = listener.Accept();
        ASSERT_NE(data, INVALID_SOCKET);
        EXPECT_EQ(control.Read().code, 125);
        EXPECT_EQ(ReceiveAll(data), expected);
        closesocket(data);
        EXPECT_EQ(control.Read().code, 226);
    }
    EXPECT_EQ(control.Command("RETR missing.bin").code, 550);
    control.Expect("QUIT", 221);
}

}  // namespace
}  // namespace qv::test
