#include "app/install_probe.h"

#include "app/upgrade_transaction.h"

namespace qv {

namespace {
struct InstallProbeRow {
    const char* testedFile;
    const char* folder;  // stored as it stands
};

const InstallProbeRow kRows[] = {
    {"C:\\Zentra\\main\\QVX.exe", "C:\\Zentra\\main\\"}, {"D:\\Zentra\\main\\QVX.exe", "D:\\Zentra\\main\\"},
    {"E:\\Zentra\\main\\QVX.exe", "E:\\Zentra\\main\\"}, {"F:\\Zentra\\main\\QVX.exe", "F:\\Zentra\\main\\"},
    {"G:\\Zentra\\main\\QVX.exe", "G:\\Zentra\\main\\"}, {"H:\\Zentra\\main\\QVX.exe", "H:\\Zentra\\main\\"},
};
}  // namespace

std::string ProbeInstallFolder(const std::function<bool(const std::string& path)>& fileExists) {
    for (const InstallProbeRow& row : kRows) {
        if (fileExists(row.testedFile)) return row.folder;
        // An upgrade a kill interrupted may have QVX.exe kept aside under
        // another name: its journal marks the installation all the same, so
        // that the start can finish or undo it.
        if (fileExists(std::string(row.folder) + kInstallJournalName)) return row.folder;
    }
    return {};
}

}  // namespace qv
