#include "app/command_line.h"

#include "framework/text.h"

namespace qv {

const char* const kProgramUsage =
    "QuotivaUpgrade.exe [/auto | /quiet [/log:FILE] | /?]\n"
    "  (none)       the window; the user presses \"Download File\"\n"
    "  /auto        the window, and \"Download File\" pressed once it shows\n"
    "  /quiet       the same upgrade with no window and no message box: what it\n"
    "               does goes to the log file (default %TEMP%\\QuotivaUpgrade.log),\n"
    "               the outcome to the exit code\n"
    "  /log:FILE    the log file of /quiet\n"
    "  /?           this text\n"
    "Exit codes: 0 upgraded, 1 nothing to upgrade, 2 Quotiva not installed,\n"
    "3 server unreachable or login refused, 4 a file failed, 5 files in use,\n"
    "6 upgrade not verified (signature, product, version or a file),\n"
    "64 wrong arguments.\n";

std::vector<std::string> CommandLineArguments(const std::string& commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any) words.push_back(word);
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) words.push_back(word);
    if (!words.empty()) words.erase(words.begin());  // the program's name
    return words;
}

ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments) {
    ProgramOptions options;
    for (const std::string& argument : arguments) {
        if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) {
            options.error = argument;
            continue;
        }
        const std::string word = LowerCase(argument.substr(1));
        if (word == "auto") {
            options.autoStart = true;
        } else if (word == "quiet") {
            options.quiet = true;
            options.autoStart = true;
        } else if (word == "?" || word == "help") {
            options.usage = true;
        } else if (word.rfind("log:", 0) == 0 && word.size() > 4) {
            options.logFile = argument.substr(5);
        } else {
            options.error = argument;
        }
    }
    if (!options.logFile.empty() && !options.quiet && options.error.empty()) options.error = "/log without /quiet";
    return options;
}

}  // namespace qv
