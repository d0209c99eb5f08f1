// The file test, on real files and folders (under Wine).
#include "framework/files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

TEST(Files, FileExistsAtIsTrueOnlyForFiles) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring folder = std::wstring(dir) + L"qv_fileexists_test";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring file = folder + L"\\QVX.exe";
    std::wstring sub = folder + L"\\QVX.dir";
    CreateDirectoryW(sub.c_str(), nullptr);
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    auto narrow = [](const std::wstring& w) { return std::string(w.begin(), w.end()); };
    EXPECT_TRUE(FileExistsAt(narrow(file)));
    EXPECT_FALSE(FileExistsAt(narrow(sub)));
    EXPECT_FALSE(FileExistsAt(narrow(folder + L"\\missing.exe")));
    DeleteFileW(file.c_str());
    RemoveDirectoryW(sub.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace qv
