// Pieces of scripts for the scripted FTP peer (tools/ftp/ftp_peer.py), for
// tests that write their own scenario: the login of account "test", the
// chain of a download up to its 150 reply, a whole download, the logout.
#pragma once

#include <string>

namespace qv::test {

// The login of account "test" with password "secret".
inline const char* const kPeerLogin =
    "reply \"220 Ready\"\n"
    "expect \"USER test\"\n"
    "reply \"331 Password required for test\"\n"
    "expect \"PASS secret\"\n"
    "reply \"230 Logged in\"\n";

// QUIT, its 221, and the client closing the connection.
inline const char* const kPeerQuit =
    "expect \"QUIT\"\n"
    "reply \"221 Goodbye\"\n"
    "expect-close\n";

// The steps of a binary download of `name` from its first command to its
// 150 reply (`preliminary`), with the data connection standing: TYPE, PASV
// and RETR in passive mode; PORT, TYPE and RETR in active mode.
inline std::string PeerChain(bool passive, const std::string& name,
                             const std::string& preliminary = "150 Opening BINARY data connection") {
    std::string s;
    if (passive) {
        s += "expect \"TYPE I\"\nreply \"200 Type set to I\"\n"
             "expect \"PASV\"\n"
             "pasv \"227 Entering Passive Mode ({h1},{h2},{h3},{h4},{p1},{p2})\"\n"
             "expect \"RETR " + name + "\"\ndata-accept\n";
    } else {
        s += "expect-port\nreply \"200 PORT command successful\"\n"
             "expect \"TYPE I\"\nreply \"200 Type set to I\"\n"
             "expect \"RETR " + name + "\"\ndata-connect\n";
    }
    return s + "reply \"" + preliminary + "\"\n";
}

// A passive download of `name` up to its 150 reply.
inline std::string PeerDownloadStart(const std::string& name,
                                     const std::string& preliminary = "150 Opening BINARY data connection") {
    return PeerChain(true, name, preliminary);
}

// A whole good passive download of `name` with these bytes (a text of the
// peer's script syntax).
inline std::string PeerDownload(const std::string& name, const std::string& content) {
    return PeerDownloadStart(name) + "data-send \"" + content + "\"\ndata-close\nreply \"226 Transfer complete\"\n";
}

}  // namespace qv::test
