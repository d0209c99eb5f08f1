// The installation probe: the product's main program file in one fixed
// folder layout on the drives C: to H:, first hit wins.
#pragma once

#include <functional>
#include <string>

namespace qv {

struct InstallProbeRow {
    const char* testedFile;  // "C:\Zentra\main\QVX.exe"
    const char* folder;      // "C:\Zentra\main\" (stored as it stands)
};

// The table, C: first.
const InstallProbeRow* InstallProbeTable(int& count);

// The folder of the first row whose file exists, or empty.
std::string ProbeInstallFolder(const std::function<bool(const std::string& path)>& fileExists);

// True only for an existing file (a folder of that name does not count).
bool FileExists(const std::string& path);

}  // namespace qv
