// The Windows side of the test FTP servers, for test programs and benchmarks
// that run under Wine: where the fixtures' real server and scripted-peer
// service listen, starting a peer scenario and collecting its verdict, and a
// small blocking FTP control connection for driving a server by hand.
//
// Blocking Winsock (ws2_32) on purpose: this is test equipment, not the
// system's socket layer.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::test {

// Raised for any failure of the helpers below, with a readable text.
class TestServerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Starts Winsock once for the process.
void EnsureWinsock();

// An environment variable's value; raises when it is not set.
std::string RequiredEnvironment(const char* name);
// A path the fixtures gave in Unix form ("/work/..."), usable by Windows
// file functions under Wine (drive Z: is the Unix root).
std::string WindowsPath(const std::string& path);
// The decimal port number a server wrote to a file.
uint16_t ReadPortFile(const std::string& path);
// The whole content of a file (binary).
std::string ReadWholeFile(const std::string& path);

// The real FTP server of the "ftp_server" ctest fixture, as the environment
// describes it: QV_FTP_SERVER_PORT_FILE, QV_FTP_SERVER_USER,
// QV_FTP_SERVER_PASSWORD, QV_FTP_SERVER_ROOT (the served folder).
struct FtpTestServer {
    uint16_t port = 0;
    std::string user;
    std::string password;
    std::string root;  // Windows form

    static FtpTestServer FromEnvironment();
    // The bytes of a served file, by its path relative to the root.
    std::string ServedFile(const std::string& relativePath) const;
};

// The verdict of a scenario played by the scripted peer.
struct PeerVerdict {
    bool passed = false;
    std::string message;            // "step N (line L: ...): what happened" on failure
    std::vector<std::string> log;   // the peer's step log
    // The message and the log, for a test's failure output.
    std::string Report() const;
};

// A connection to the scripted-peer service of the "ftp_peer" ctest fixture
// (its port in the file named by QV_FTP_PEER_PORT_FILE). Each Run starts one
// scenario on a fresh port of 127.0.0.1 and returns that port; Wait returns
// its verdict. One scenario at a time per ScriptedPeer; destroying it ends a
// scenario still running.
class ScriptedPeer {
public:
    ScriptedPeer();  // from the environment
    explicit ScriptedPeer(uint16_t servicePort);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // A stored scenario by name (tools/ftp/scenarios/<name>.peer).
    uint16_t Run(const std::string& scenarioName);
    // A scenario given as text.
    uint16_t RunScript(const std::string& scenarioText);
    // Waits at most that long for the scenario to end (a scenario still
    // running then is stopped and fails).
    PeerVerdict Wait(double seconds = 60);

private:
    uint16_t ReadPortReply();
    std::string ReadLine();

    SOCKET socket_ = INVALID_SOCKET;
    std::string pending_;
};

// A blocking FTP control connection with 30 s limits.
class BlockingFtpControl {
public:
    struct Reply {
        int code = 0;
        std::string text;  // every line with its CR LF
    };

    explicit BlockingFtpControl(uint16_t port, const char* host = "127.0.0.1");
    ~BlockingFtpControl();
    BlockingFtpControl(const BlockingFtpControl&) = delete;
    BlockingFtpControl& operator=(const BlockingFtpControl&) = delete;

    // One reply; a multi-line reply is read to its last line.
    Reply Read();
    void Send(const std::string& line);  // adds CR LF
    Reply Command(const std::string& line);
    // Reads the greeting and logs in (USER, PASS when asked); raises unless
    // the server ends with 230.
    void LogIn(const std::string& user, const std::string& password);
    // Sends the command and raises unless the reply has the expected code.
    Reply Expect(const std::string& line, int code);

    SOCKET Socket() const { return socket_; }
    sockaddr_in LocalAddress() const;

private:
    std::string ReadLine();

    SOCKET socket_ = INVALID_SOCKET;
    std::string pending_;
};

}  // namespace qv::test
