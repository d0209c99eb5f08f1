// The file test and the owned file handle, on real files and folders
// (under Wine).
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

// Whether a handle is still open: duplicating it works only then.
bool IsOpen(HANDLE h) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    CloseHandle(copy);
    return true;
}

TEST(Files, AnOwnedFileClosesOnceWhateverThePath) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string path = std::string(dir) + "qv_owned_file_test.txt";
    HANDLE raw;
    {
        OwnedFile file = OpenOwnedFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
        ASSERT_TRUE(file.Valid());
        raw = file.Get();
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.Get(), "abc", 3, &written, nullptr));
        OwnedFile moved = std::move(file);  // one owner at a time
        EXPECT_FALSE(file.Valid());
        EXPECT_EQ(moved.Get(), raw);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));  // closed when its owner went
    OwnedFile again = OpenOwnedFile(path, GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_TRUE(again);
    EXPECT_EQ(GetFileSize(again.Get(), nullptr), 3u);
    EXPECT_EQ(again.Close(), 0u);
    EXPECT_EQ(again.Close(), 0u);  // nothing left to close
    EXPECT_FALSE(OpenOwnedFile(path + "\\no\\such", GENERIC_READ, 0, OPEN_EXISTING).Valid());
    DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace qv
