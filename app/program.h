// The program QuotivaUpgrade.exe as a function: the communications layers
// started, the window made from its resource, the message loop, everything
// ended in order. Its result is the process's exit code.
#pragma once

#include <string>

namespace qv {

// `commandLine`: the whole command line, the program's name first (the
// program passes GetCommandLine's).
int RunUpgradeProgram(const std::string& commandLine = std::string());

}  // namespace qv
