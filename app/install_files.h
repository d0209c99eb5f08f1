// The installation folder's files as the upgrade transaction changes them
// (upgrade_transaction.h), on Windows: renames within a folder, removals
// that take read-only files too, durable writes (temporary file, flushed,
// then renamed over), and the check that no other program holds a file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/file_api_name.h"
#include "app/upgrade_transaction.h"

namespace qv {

// Removes a file, a read-only one too; true when it is gone (also when it
// never existed).
bool RemoveFileAt(const std::wstring& name);

class WindowsInstallFiles : public InstallFiles {
public:
    // `folder`: the installation folder, ending in a backslash.
    explicit WindowsInstallFiles(std::string folder);

    const std::string& Folder() const { return folder_; }
    void SetFolder(std::string folder) { folder_ = std::move(folder); }

    PathKind Kind(const std::string& path) override;
    int64_t FileSize(const std::string& path) override;
    bool Rename(const std::string& from, const std::string& to) override;
    bool Remove(const std::string& path) override;
    bool WriteDurably(const std::string& path, const std::string& text) override;
    std::optional<std::string> ReadText(const std::string& path) override;
    bool Flush(const std::string& path) override;
    bool InUse(const std::string& path) override;
    std::string NewKeptName(const std::string& folder) override;
    std::vector<std::string> Leftovers() override;

    // Runs before every change of the file system, with what it is about to
    // do ("rename a -> b"): a test build stops the program there to show
    // what a kill at that moment leaves.
    static void SetChangeHook(std::function<void(const std::string& change)> hook);

private:
    std::wstring Full(const std::string& path) const;
    void BeforeChange(const std::string& change);

    std::string folder_;
    uint16_t nextNumber_;
};

}  // namespace qv
