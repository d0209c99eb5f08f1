// The installation probe: the product's main program file in one fixed
// folder layout on the drives C: to H:, first hit wins.
#pragma once

#include <functional>
#include <string>

namespace qv {

// The folder ("C:\Zentra\main\", with its trailing backslash) of the first
// drive, C: first, on which `fileExists` finds "X:\Zentra\main\QVX.exe" or
// the journal of an upgrade that was interrupted there (while it replaces
// QVX.exe, the old file is kept aside under another name); empty when none
// does. The program passes FileExistsAt (framework/files.h).
std::string ProbeInstallFolder(const std::function<bool(const std::string& path)>& fileExists);

}  // namespace qv
