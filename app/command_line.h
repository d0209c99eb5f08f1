// The program's command line, free of platform calls: the normal start
// takes no argument; an administrator may ask for a start that presses
// "Download File" by itself (/auto), or for the same upgrade with no window
// and no message box, reported in a log file and by the exit code (/quiet).
#pragma once

#include <string>
#include <vector>

namespace qv {

struct ProgramOptions {
    bool autoStart = false;  // /auto (and /quiet)
    bool quiet = false;      // /quiet
    bool usage = false;      // /? : print the usage and end
    std::string logFile;     // /log:PATH (with /quiet); empty: the default
    std::string error;       // an argument the program does not take
};

// The words of a command line after the program's name: blanks separate,
// double quotes group (and are dropped).
std::vector<std::string> CommandLineArguments(const std::string& commandLine);

// Reads the arguments after the program's name. Options start with "/" or
// "-", letters in any case.
ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments);

// What /? prints.
extern const char* const kProgramUsage;

// The exit codes of a run started with /quiet (also of /auto runs).
enum QuietExitCode : int {
    kExitUpgraded = 0,          // files were installed
    kExitNothingToUpgrade = 1,  // the folder held no file, or every file was current
    kExitNotInstalled = 2,      // Quotiva was not found on C: to H:
    kExitNoSession = 3,         // the server could not be reached, or refused the login
    kExitFileFailed = 4,        // a file (or the session, during the downloads) failed
    kExitFilesInUse = 5,        // a file to replace was held by another program
    kExitNotVerified = 6,       // a signed upgrade did not verify; nothing installed
    kExitUsage = 64,            // an argument the program does not take
};

}  // namespace qv
