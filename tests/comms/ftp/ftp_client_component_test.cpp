// The FTP client as a component: its initial settings, what it publishes and
// in which order, reading it from a form resource with its log and
// handlers, the linking with a history log, and the operations it refuses
// while not connected.
#include <gtest/gtest.h>

#include "comms/dispatch/comm_socket.h"
#include "comms/port/winsock_port.h"
#include "framework/form_reader.h"
#include "tests/comms/ftp/ftp_client_test_support.h"

namespace qv::test {
namespace {

TEST(FtpClientComponent, ConstructorSettings) {
    Component owner;
    FtpClient* c = new FtpClient(&owner);
    EXPECT_EQ(c->ClassName(), "FtpClient");
    EXPECT_EQ(c->TransferTimeout(), 1092);
    EXPECT_EQ(c->ConnectTimeout(), 0);
    EXPECT_EQ(c->FileType(), ftBinary);
    EXPECT_FALSE(c->PassiveMode());
    EXPECT_EQ(c->WsPort(), "ftp");
    EXPECT_EQ(c->ServerAddress(), "");
    EXPECT_EQ(c->GetDeviceLayer(), dlWinsock);
    EXPECT_EQ(c->GetWsMode(), wsClient);
    EXPECT_TRUE(c->WsTelnet());
    EXPECT_FALSE(c->OpenOnDemand());
    EXPECT_EQ(c->GetFtpLog(), nullptr);
    EXPECT_FALSE(c->IsConnected());
    EXPECT_EQ(c->ProcessState(), FtpState::Unconnected);
    EXPECT_EQ(c->DataSocket(), kInvalidSocket);
    EXPECT_EQ(c->ListeningSocket(), kInvalidSocket);
    ASSERT_NE(c->EventWindow(), nullptr);

    // The reply packet: lines ending in CR LF, kept whole, never longer than
    // the longest reply the client takes, no time limit, attached to the
    // client and off until a connection stands.
    DataPacket* p = c->ReplyPacket();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Owner(), c);
    EXPECT_EQ(p->ComPort(), c);
    EXPECT_EQ(p->StartCond(), scAnyData);
    EXPECT_EQ(p->EndString(), "\r\n");
    EXPECT_EQ(p->EndCond(), kEndString | kEndPacketSize);
    EXPECT_EQ(p->PacketSize(), kFtpMaxReplyLength);
    EXPECT_EQ(p->TimeOut(), 0);
    EXPECT_TRUE(p->IncludeStrings());
    EXPECT_TRUE(p->AutoEnable());
    EXPECT_FALSE(p->Enabled());
    EXPECT_EQ(c->DataSocketComponent()->Owner(), c);
}

TEST(FtpClientComponent, PublishesItsPropertiesInOrder) {
    std::vector<std::string> names;
    for (const PropInfo* p : FtpClient::StaticProperties().All()) names.push_back(p->name);
    const std::vector<std::string> expected{
        "Name",        "Tag",         "Version",     "Account",    "ConnectTimeout", "FileType",
        "FtpLog",      "Password",    "PassiveMode", "ServerAddress", "TransferTimeout", "UserName",
        "OnFtpError",  "OnFtpLog",    "OnFtpReply",  "OnFtpStatus", "Logging",     "LogSize",
        "LogName",     "LogHex",      "Tracing",     "TraceSize",  "TraceName",    "TraceHex",
        "WsPort"};
    EXPECT_EQ(names, expected);

    std::vector<std::string> logNames;
    for (const PropInfo* p : FtpLog::StaticProperties().All()) logNames.push_back(p->name);
    EXPECT_EQ(logNames, (std::vector<std::string>{"Name", "Tag", "Version", "Enabled", "FtpHistoryName", "FtpClient"}));
}

TEST(FtpClientComponent, PropertiesByName) {
    Component owner;
    FtpClient* c = new FtpClient(&owner);
    SetStrProp(*c, "UserName", "qvmain");
    SetStrProp(*c, "Password", "kd52wm71");
    SetStrProp(*c, "Account", "acct");
    SetStrProp(*c, "ServerAddress", "  upgrade.example  ");
    SetOrdProp(*c, "TransferTimeout", 1500);
    SetOrdProp(*c, "ConnectTimeout", 7);
    SetOrdProp(*c, "FileType", ftAscii);
    SetBoolProp(*c, "PassiveMode", true);
    EXPECT_EQ(c->UserName(), "qvmain");
    EXPECT_EQ(c->Password(), "kd52wm71");
    EXPECT_EQ(c->Account(), "acct");
    EXPECT_EQ(c->ServerAddress(), "upgrade.example");  // stored trimmed
    EXPECT_EQ(c->TransferTimeout(), 1500);
    EXPECT_EQ(c->ConnectTimeout(), 7);
    EXPECT_EQ(c->FileType(), ftAscii);
    EXPECT_TRUE(c->PassiveMode());
    // The port's line settings are not the client's to publish.
    EXPECT_FALSE(HasProperty(*c, "Baud"));
    EXPECT_FALSE(HasProperty(*c, "WsMode"));
}

// A root whose form resource holds a client and its log, as the upgrade
// window's does.
class TestWindow : public Component {
public:
    std::string ClassName() const override { return "TestWindow"; }
};

TEST(FtpClientComponent, ReadFromAFormWithItsLogAndHandlers) {
    ASSERT_TRUE(ClassRegistry::Instance().Has("FtpClient"));
    ASSERT_TRUE(ClassRegistry::Instance().Has("FtpLog"));
    TestWindow window;
    std::vector<std::string> seen;
    HandlerTable handlers;
    handlers.Add("FtpClient1FtpStatus", FtpStatusEvent([&](Object*, FtpStatusCode code, const char*) {
                     seen.push_back("status " + std::to_string(code));
                 }));
    handlers.Add("FtpClient1FtpError", FtpErrorEvent([&](Object*, int32_t code, const char*) {
                     seen.push_back("error " + std::to_string(code));
                 }));
    const char* form = R"(
TestWindow TestWindow {
  FtpClient FtpClient1 {
    ConnectTimeout = 0
    FileType = ftBinary
    FtpLog = FtpLog1
    PassiveMode = false
    TransferTimeout = 1500
    WsPort = "ftp"
    LogName = "COMMS.LOG"
    TraceName = "COMMS.TRC"
    OnFtpError = FtpClient1FtpError
    OnFtpStatus = FtpClient1FtpStatus
  }
  FtpLog FtpLog1 {
    Enabled = false
    FtpHistoryName = "COMMSFTP.HIS"
    FtpClient = FtpClient1
  }
}
)";
    ReadForm(window, form, handlers, "test form");
    auto* client = dynamic_cast<FtpClient*>(window.FindComponent("FtpClient1"));
    auto* log = dynamic_cast<FtpLog*>(window.FindComponent("FtpLog1"));
    ASSERT_NE(client, nullptr);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(client->GetFtpLog(), log);
    EXPECT_EQ(log->GetFtpClient(), client);
    EXPECT_EQ(client->TransferTimeout(), 1500);
    EXPECT_FALSE(log->Enabled());
    EXPECT_TRUE(IsEventAssigned(*client, "OnFtpStatus"));
    EXPECT_TRUE(IsEventAssigned(*client, "OnFtpError"));
    EXPECT_FALSE(IsEventAssigned(*client, "OnFtpReply"));

    // The bound handlers are the ones called: an empty server address makes
    // the open fail at once, and the connect timer it started resets the
    // client and reports -1 through OnFtpError.
    client->SetConnectTimeout(2);
    EXPECT_THROW(client->LogIn(), ESocketException);
    EXPECT_TRUE(PumpUntil([&] { return seen.size() >= 2; }, 3000));
    EXPECT_EQ(seen, (std::vector<std::string>{"error -1", "status 0"}));
}

TEST(FtpClientComponent, LogAndClientBesideEachOtherLinkInEitherOrder) {
    {
        Component owner;
        auto* client = new FtpClient(&owner);
        auto* log = new FtpLog(&owner);
        EXPECT_EQ(client->GetFtpLog(), log);
        EXPECT_EQ(log->GetFtpClient(), client);
        // A second log finds the client taken.
        auto* second = new FtpLog(&owner);
        EXPECT_EQ(second->GetFtpClient(), nullptr);
        EXPECT_EQ(client->GetFtpLog(), log);
        // The log goes: the client forgets it.
        Free(log);
        EXPECT_EQ(client->GetFtpLog(), nullptr);
    }
    {
        Component owner;
        auto* log = new FtpLog(&owner);
        auto* client = new FtpClient(&owner);
        EXPECT_EQ(client->GetFtpLog(), log);
        EXPECT_EQ(log->GetFtpClient(), client);
        // The client goes: the log forgets it.
        Free(client);
        EXPECT_EQ(log->GetFtpClient(), nullptr);
    }
    {
        // Under different owners nothing links by itself; setting FtpLog
        // links both ways, and the log still hears of the client's end.
        Component a, b;
        auto* client = new FtpClient(&a);
        auto* log = new FtpLog(&b);
        EXPECT_EQ(client->GetFtpLog(), nullptr);
        client->SetFtpLog(log);
        EXPECT_EQ(log->GetFtpClient(), client);
        // The log's FtpClient is a plain reference.
        log->SetFtpClient(nullptr);
        EXPECT_EQ(client->GetFtpLog(), log);
        log->SetFtpClient(client);
        Free(client);
        EXPECT_EQ(log->GetFtpClient(), nullptr);
    }
}

TEST(FtpClientComponent, OperationsWhileUnconnected) {
    RecordedClient r;
    FtpClient& c = *r.client;
    EXPECT_FALSE(c.ChangeFolder("/x"));
    EXPECT_FALSE(c.QueryFolder());
    EXPECT_FALSE(c.ListFolder("", false));
    EXPECT_FALSE(c.DownloadFile("a", "b", dmReplace));
    EXPECT_FALSE(c.AbortTransfer());
    EXPECT_FALSE(c.LogOut());  // the port was not open
    EXPECT_EQ(c.ProcessState(), FtpState::Unconnected);
    EXPECT_EQ(c.CommandCount(), 0);
    PumpFor(50);
    EXPECT_TRUE(r.events.empty()) << r.History();
}

TEST(FtpClientComponent, OpenErrorsReachTheCallerAndTheStateStays) {
    RecordedClient r;
    FtpClient& c = *r.client;
    try {
        c.LogIn();
        ADD_FAILURE() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.SocketErrorCode(), kErrAddressRequired);
    }
    EXPECT_EQ(c.ProcessState(), FtpState::Unconnected);
    EXPECT_FALSE(c.IsConnected());
    c.SetServerAddress("127.0.0.1");
    c.SetWsPort("0");
    try {
        c.LogIn();
        ADD_FAILURE() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.SocketErrorCode(), kErrBadPort);
    }
    EXPECT_EQ(c.ProcessState(), FtpState::Unconnected);
    // Without a connect timer nothing follows.
    PumpFor(100);
    EXPECT_TRUE(r.events.empty()) << r.History();
}

TEST(FtpClientComponent, ServerSettingsWhileConnected) {
    uint16_t port = 0;
    RawSocket listener = ListenOnLoopback(port);
    RecordedClient r;
    r.Target(port);
    EXPECT_TRUE(r.client->LogIn());
    // Connected in the sense of IsConnected from the moment the port opened.
    EXPECT_TRUE(r.client->IsConnected());
    EXPECT_EQ(r.client->ProcessState(), FtpState::LoggingIn);
    RawSocket peer = AcceptPeer(listener.Get());
    ASSERT_TRUE(peer.Valid());
    EXPECT_TRUE(PumpUntil([&] { return r.client->ReplyPacket()->Enabled(); }));
    r.client->SetServerAddress("127.0.0.1");  // the same value: accepted
    try {
        r.client->SetServerAddress("127.0.0.2");
        ADD_FAILURE() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.SocketErrorCode(), kErrChangeWhileConnected);
        EXPECT_EQ(e.Message(), "Cannot change parameter while socket is connected");
    }
    EXPECT_THROW(r.client->SetWsPort("21"), ESocketException);
    EXPECT_EQ(r.client->ServerAddress(), "127.0.0.1");

    // LogIn again while logging in: "USER" goes out at once.
    EXPECT_TRUE(r.client->LogIn());
    EXPECT_EQ(ReceiveRaw(peer.Get(), 11), S("USER test\r\n"));
    EXPECT_EQ(r.client->ProcessState(), FtpState::LoggingIn);

    // The client is destroyed while connected: the connection goes with it
    // and no event is delivered any more.
    size_t before = r.events.size();
    Free(r.client);
    r.client = nullptr;
    EXPECT_TRUE(PeerClosed(peer.Get()));
    PumpFor(50);
    EXPECT_EQ(r.events.size(), before);
}

TEST(FtpClientComponent, ConnectTimeoutWhileTheConnectionIsNotTaken) {
    // A listener whose queue is full: the next connection attempt gets no
    // answer at all, so the connection is never established.
    uint16_t port = 0;
    RawSocket listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = LoopbackAddress();
    ::bind(listener.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener.Get(), 0);
    int len = sizeof a;
    ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    std::vector<RawSocket> fillers;
    for (int i = 0; i < 3; ++i) {
        RawSocket s(::socket(AF_INET, SOCK_STREAM, 0));
        u_long nonBlocking = 1;
        ::ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
        ::connect(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(std::move(s));
    }
    PumpFor(200);

    RecordedClient r;
    r.Target(port);
    r.client->SetConnectTimeout(10);  // 550 ms
    DWORD start = GetTickCount();
    EXPECT_TRUE(r.client->LogIn());
    ASSERT_TRUE(r.WaitError(0, 5000)) << r.History();
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 500u);
    // The error comes first, directly from the timer; the status the reset
    // posted (it closed the port itself, once) follows.
    EXPECT_TRUE(PumpUntil([&] { return r.events.size() >= 2; }, 2000));
    EXPECT_EQ(r.Sequence(), (std::vector<std::string>{"error -1", "scDisconnected"})) << r.History();
    EXPECT_FALSE(r.events[0].text.has_value());
    EXPECT_EQ(r.client->ProcessState(), FtpState::Unconnected);
    EXPECT_FALSE(r.client->Open());
    // The timer ran once only.
    PumpFor(800);
    EXPECT_EQ(r.Count(FtpEvent::Error), 1);
}

}  // namespace
}  // namespace qv::test
