// The program QuotivaUpgrade.exe as a function: the communications layers
// started, the window made from its resource, the message loop, everything
// ended in order. Its result is the process's exit code.
#pragma once

namespace qv {

int RunUpgradeProgram();

}  // namespace qv
