#include "tests/support/ftp_test_servers.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "comms/ftp/ftp_reply.h"

namespace qv::test {

namespace {

std::string SocketErrorText(const char* what) {
    return std::string(what) + " failed, socket error " + std::to_string(WSAGetLastError());
}

SOCKET ConnectTo(const char* host, uint16_t port) {
    EnsureWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw TestServerError(SocketErrorText("socket"));
    DWORD limit = 30000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr(host);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::string text = SocketErrorText("connect") + " (" + host + ":" + std::to_string(port) + ")";
        closesocket(s);
        throw TestServerError(text);
    }
    return s;
}

void SendAll(SOCKET s, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0) throw TestServerError(SocketErrorText("send"));
        sent += static_cast<size_t>(n);
    }
}

// Reads up to and including the next LF.
std::string ReadLineFrom(SOCKET s, std::string& pending, const char* what) {
    for (;;) {
        size_t lf = pending.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending.substr(0, lf + 1);
            pending.erase(0, lf + 1);
            return line;
        }
        char buffer[4096];
        int n = recv(s, buffer, sizeof buffer, 0);
        if (n == 0) throw TestServerError(std::string(what) + " closed the connection");
        if (n < 0) throw TestServerError(SocketErrorText("recv"));
        pending.append(buffer, static_cast<size_t>(n));
    }
}

std::string Chomp(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

}  // namespace

void EnsureWinsock() {
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw TestServerError("WSAStartup failed");
}

std::string RequiredEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) throw TestServerError(std::string("environment variable ") + name + " is not set");
    return value;
}

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(WindowsPath(path), std::ios::binary);
    if (!in) throw TestServerError("cannot read " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

uint16_t ReadPortFile(const std::string& path) {
    std::string text = ReadWholeFile(path);
    long port = std::strtol(text.c_str(), nullptr, 10);
    if (port <= 0 || port > 65535) throw TestServerError("no port number in " + path);
    return static_cast<uint16_t>(port);
}

FtpTestServer FtpTestServer::FromEnvironment() {
    FtpTestServer server;
    server.port = ReadPortFile(RequiredEnvironment("QV_FTP_SERVER_PORT_FILE"));
    server.user = RequiredEnvironment("QV_FTP_SERVER_USER");
    server.password = RequiredEnvironment("QV_FTP_SERVER_PASSWORD");
    server.root = WindowsPath(RequiredEnvironment("QV_FTP_SERVER_ROOT"));
    return server;
}

std::string FtpTestServer::ServedFile(const std::string& relativePath) const {
    return ReadWholeFile(root + "\\" + relativePath);
}

std::string PeerVerdict::Report() const {
    std::string text = passed ? "PASS" : "FAIL " + message;
    for (const std::string& line : log) text += "\n  " + line;
    return text;
}

ScriptedPeer::ScriptedPeer() : ScriptedPeer(ReadPortFile(RequiredEnvironment("QV_FTP_PEER_PORT_FILE"))) {}

ScriptedPeer::ScriptedPeer(uint16_t servicePort) { socket_ = ConnectTo("127.0.0.1", servicePort); }

ScriptedPeer::~ScriptedPeer() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

std::string ScriptedPeer::ReadLine() { return Chomp(ReadLineFrom(socket_, pending_, "the peer service")); }

uint16_t ScriptedPeer::ReadPortReply() {
    std::string reply = ReadLine();
    if (reply.rfind("PORT ", 0) != 0) throw TestServerError("peer service: " + reply);
    return static_cast<uint16_t>(std::strtol(reply.c_str() + 5, nullptr, 10));
}

uint16_t ScriptedPeer::Run(const std::string& scenarioName) {
    SendAll(socket_, "RUN " + scenarioName + "\n");
    return ReadPortReply();
}

uint16_t ScriptedPeer::RunScript(const std::string& scenarioText) {
    SendAll(socket_, "SCRIPT " + std::to_string(scenarioText.size()) + "\n" + scenarioText);
    return ReadPortReply();
}

PeerVerdict ScriptedPeer::Wait(double seconds) {
    char command[64];
    std::snprintf(command, sizeof command, "WAIT %.3f\n", seconds);
    SendAll(socket_, command);
    // The verdict comes when the scenario ends or the service stops it.
    DWORD limit = static_cast<DWORD>(seconds * 1000) + 30000;
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    PeerVerdict verdict;
    std::string first = ReadLine();
    if (first == "PASS") {
        verdict.passed = true;
    } else if (first.rfind("FAIL ", 0) == 0) {
        verdict.message = first.substr(5);
    } else {
        throw TestServerError("peer service: " + first);
    }
    for (std::string line = ReadLine(); line != "."; line = ReadLine())
        verdict.log.push_back(line.rfind("| ", 0) == 0 ? line.substr(2) : line);
    return verdict;
}

BlockingFtpControl::BlockingFtpControl(uint16_t port, const char* host) { socket_ = ConnectTo(host, port); }

BlockingFtpControl::~BlockingFtpControl() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

std::string BlockingFtpControl::ReadLine() { return ReadLineFrom(socket_, pending_, "the FTP server"); }

BlockingFtpControl::Reply BlockingFtpControl::Read() {
    Reply reply;
    std::string line = ReadLine();
    reply.text = line;
    reply.code = FtpReplyCode(line);
    if (line.size() >= 4 && line[3] == '-') {
        std::string terminator = line.substr(0, 3) + " ";
        do {
            line = ReadLine();
            reply.text += line;
        } while (line.compare(0, 4, terminator) != 0);
    }
    return reply;
}

void BlockingFtpControl::Send(const std::string& line) { SendAll(socket_, line + "\r\n"); }

BlockingFtpControl::Reply BlockingFtpControl::Command(const std::string& line) {
    Send(line);
    return Read();
}

BlockingFtpControl::Reply BlockingFtpControl::Expect(const std::string& line, int code) {
    Reply reply = Command(line);
    if (reply.code != code)
        throw TestServerError("\"" + line + "\" answered " + Chomp(reply.text) + ", expected " + std::to_string(code));
    return reply;
}

void BlockingFtpControl::LogIn(const std::string& user, const std::string& password) {
    Reply greeting = Read();
    if (greeting.code != 220) throw TestServerError("greeting: " + Chomp(greeting.text));
    Reply reply = Command("USER " + user);
    if (reply.code == 331) reply = Command("PASS " + password);
    if (reply.code != 230) throw TestServerError("login: " + Chomp(reply.text));
}

sockaddr_in BlockingFtpControl::LocalAddress() const {
    sockaddr_in address{};
    int length = sizeof address;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    return address;
}

}  // namespace qv::test
