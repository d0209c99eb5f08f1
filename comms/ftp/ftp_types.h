// Enumerations of the FTP client that carry no platform types: status and log
// codes, the transfer type and the download mode. The client and its history
// log share them, and the portable text helpers take them as arguments.
#pragma once

#include <cstdint>

namespace qv {

enum FtpStatusCode : uint8_t {
    scDisconnected = 0,
    scConnected = 1,
    scLoggedOut = 2,
    scLoggedIn = 3,
    scOperationComplete = 4,
    scCurrentFolder = 5,
    scInfoText = 6,
    scProgress = 7,
    scTransferComplete = 8,
    scTransferTimedOut = 9,
};

enum FtpLogCode : uint8_t {
    lcDisconnected = 0,
    lcConnected = 1,
    lcLoggedOut = 2,
    lcLoggedIn = 3,
    lcDeleting = 4,
    lcRenaming = 5,
    lcDownloading = 6,
    lcUploading = 7,
    lcTransferComplete = 8,
    lcRetransfer = 9,
    lcTimedOut = 10,
    lcAbortedByUser = 11,
};

enum FtpFileType : uint8_t {
    ftAscii = 0,
    ftBinary = 1,
};

// Any value other than dmAppend and dmReplace acts as dmRestart.
enum FtpDownloadMode : uint8_t {
    dmAppend = 0,
    dmReplace = 1,
    dmRestart = 2,
};

// Client-side codes of OnFtpError, beside the server's reply codes (100 to
// 599) and the socket library's error numbers (10000 and up); none of them
// can be confused with either.
//   -1  the connect timer ran out before the TCP connection stood
//   -2  a binary download ended with another number of bytes than its 150
//       reply announced ("Transfer incomplete: 1000 of 100000 bytes")
//   -3  writing the local file failed (a full disk, a file that went away);
//       the text names the remote file and the system's reason
//   -4  the data connection of a listing or a download could not be
//       prepared and no socket error number tells why ("Cannot prepare the
//       data connection"; with a number, that number is the code)
//   -5  the server closed the control connection without a reply that says
//       so (no 421, no 221 to our QUIT) and the socket gave no error number
//       ("Connection closed by the server")
//   -6  a reply line, or a multi-line reply, longer than kFtpMaxReplyLength
//       bytes: the session ends ("Reply too long: more than 65536 bytes")
//   -7  a listing longer than kFtpMaxListingLength bytes: the listing fails
//       as a whole, it is never handed on cut short ("Listing too long:
//       more than 67108864 bytes")
// A -2 also ends a binary download the moment it receives more bytes than
// its 150 reply announced ("Transfer size mismatch: ...").
inline constexpr int32_t kFtpErrConnectTimeout = -1;
inline constexpr int32_t kFtpErrIncomplete = -2;
inline constexpr int32_t kFtpErrLocalWrite = -3;
inline constexpr int32_t kFtpErrNoDataConnection = -4;
inline constexpr int32_t kFtpErrConnectionClosed = -5;
inline constexpr int32_t kFtpErrReplyTooLong = -6;
inline constexpr int32_t kFtpErrListingTooLong = -7;

// What a server may send before the client gives up on it: one reply line
// (CR LF included) or one multi-line reply (all its lines together), and
// one listing. Both bound what a server can make the client buffer.
inline constexpr int32_t kFtpMaxReplyLength = 64 * 1024;
inline constexpr int64_t kFtpMaxListingLength = int64_t(64) << 20;

// "scTransferComplete" for scTransferComplete; "?" for a value outside the
// type (for traces, logs and test output).
inline const char* FtpStatusName(int code) {
    static const char* const names[] = {"scDisconnected",      "scConnected",     "scLoggedOut", "scLoggedIn",
                                        "scOperationComplete", "scCurrentFolder", "scInfoText",  "scProgress",
                                        "scTransferComplete",  "scTransferTimedOut"};
    return code >= 0 && code < 10 ? names[code] : "?";
}

// The letter of the "TYPE " command for a transfer type: 'A' or 'I'.
inline char FtpTypeLetter(FtpFileType type) { return "AI"[type == ftBinary ? 1 : 0]; }

}  // namespace qv
