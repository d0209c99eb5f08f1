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

// The letter of the "TYPE " command for a transfer type: 'A' or 'I'.
inline char FtpTypeLetter(FtpFileType type) { return "AI"[type == ftBinary ? 1 : 0]; }

}  // namespace qv
