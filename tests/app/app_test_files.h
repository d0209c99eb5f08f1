// Real files for the window's tests under Wine: a private folder in the
// system's temporary folder, and reading and testing the files in it.
#pragma once

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace qv::test {

// "<temporary folder>\<prefix>-<process id>\", created.
inline std::string MakeTestFolder(const std::string& prefix) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string folder = std::string(base) + prefix + "-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

inline void WriteFileBytes(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
}

// A file's bytes, empty when it cannot be read.
inline std::string FileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A file or a folder of that name.
inline bool PathExists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace qv::test
