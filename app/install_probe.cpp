#include "app/install_probe.h"

#include <windows.h>

#include "framework/win32_text.h"

namespace qv {

namespace {
const InstallProbeRow kRows[] = {
    {"C:\\Zentra\\main\\QVX.exe", "C:\\Zentra\\main\\"}, {"D:\\Zentra\\main\\QVX.exe", "D:\\Zentra\\main\\"},
    {"E:\\Zentra\\main\\QVX.exe", "E:\\Zentra\\main\\"}, {"F:\\Zentra\\main\\QVX.exe", "F:\\Zentra\\main\\"},
    {"G:\\Zentra\\main\\QVX.exe", "G:\\Zentra\\main\\"}, {"H:\\Zentra\\main\\QVX.exe", "H:\\Zentra\\main\\"},
};
}  // namespace

const InstallProbeRow* InstallProbeTable(int& count) {
    count = static_cast<int>(sizeof(kRows) / sizeof(kRows[0]));
    return kRows;
}

std::string ProbeInstallFolder(const std::function<bool(const std::string& path)>& fileExists) {
    for (const InstallProbeRow& row : kRows)
        if (fileExists(row.testedFile)) return row.folder;
    return {};
}

bool FileExists(const std::string& path) {
    // No "insert a disk" boxes for empty removable drives.
    UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    SetErrorMode(old);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace qv
