// An installation folder kept in memory for the portable tests of the
// upgrade transaction and the run: files as name -> content, folders as
// names, files another program holds, and a kill before any change.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/upgrade_transaction.h"

namespace qv::test {

// Thrown where the program would have been killed.
struct Killed {};

// Files as name -> content; folders as names ending in "/".
class MemoryFiles : public InstallFiles {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    std::set<std::string> inUse;
    // The program is killed before change number `killAt` (1 = the first).
    int killAt = 0;
    int changes = 0;
    std::vector<std::string> log;
    int keptNumber = 0;

    PathKind Kind(const std::string& path) override {
        if (files.count(path)) return PathKind::File;
        if (folders.count(path)) return PathKind::Folder;
        return PathKind::None;
    }
    int64_t FileSize(const std::string& path) override {
        auto f = files.find(path);
        return f == files.end() ? -1 : static_cast<int64_t>(f->second.size());
    }
    bool Rename(const std::string& from, const std::string& to) override {
        Change("rename " + from + " -> " + to);
        if (!files.count(from) || Kind(to) != PathKind::None || inUse.count(from)) return false;
        files[to] = files[from];
        files.erase(from);
        return true;
    }
    bool Remove(const std::string& path) override {
        if (!files.count(path)) return true;
        Change("remove " + path);
        if (inUse.count(path)) return false;
        files.erase(path);
        return true;
    }
    bool WriteDurably(const std::string& path, const std::string& text) override {
        // As on disk: a temporary file, then a rename over the old one.
        Change("write " + path + ".new");
        files[path + ".new"] = text;
        Change("rename " + path + ".new -> " + path);
        files[path] = text;
        files.erase(path + ".new");
        return true;
    }
    std::optional<std::string> ReadText(const std::string& path) override {
        auto f = files.find(path);
        if (f == files.end()) return std::nullopt;
        return f->second;
    }
    bool Flush(const std::string& path) override { return files.count(path) > 0; }
    bool InUse(const std::string& path) override { return inUse.count(path) > 0; }
    std::string NewKeptName(const std::string& folder) override {
        std::string name;
        do name = folder + "~qv" + std::to_string(1000 + keptNumber++) + ".old";
        while (Kind(name) != PathKind::None);
        return name;
    }
    std::vector<std::string> Leftovers() override {
        std::vector<std::string> out;
        for (const auto& [name, content] : files) {
            std::string leaf = name.substr(name.find_last_of('/') + 1);
            if (leaf.rfind("~qv", 0) == 0 && (leaf.size() == 11) &&
                (leaf.substr(7) == ".tmp" || leaf.substr(7) == ".old"))
                out.push_back(name);
            if (name == std::string(kInstallJournalName) + ".new") out.push_back(name);
        }
        return out;
    }

private:
    void Change(const std::string& what) {
        ++changes;
        if (killAt != 0 && changes == killAt) throw Killed{};
        log.push_back(what);
    }
};

}  // namespace qv::test
