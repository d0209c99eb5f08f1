// The file test, the owned file handle and the long-path rule, on real
// files and folders (under Wine).
#include "framework/files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// A file in a folder whose path is past the classic length limit: opened,
// written and tested through the framework's functions (which hand the file
// functions the extended-length name), and checked on disk through that
// name given directly. (Wine also takes such a path in its plain form;
// Windows does not, unless the system is set up for long paths.)
TEST(Files, PathsBeyondTheClassicLimit) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    auto extended = [](const std::wstring& path) { return L"\\\\?\\" + path; };
    std::wstring base = std::wstring(dir) + L"qv_long_path_test";
    std::vector<std::wstring> folders = {base};
    for (wchar_t letter : {L'a', L'b', L'c'}) folders.push_back(folders.back() + L"\\" + std::wstring(90, letter));
    for (const std::wstring& f : folders) CreateDirectoryW(extended(f).c_str(), nullptr);
    std::wstring file = folders.back() + L"\\QVX.exe";
    ASSERT_GT(file.size(), static_cast<size_t>(MAX_PATH));
    std::string narrow(file.begin(), file.end());

    OwnedFile out = OpenOwnedFile(narrow, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_TRUE(out.Valid()) << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(out.Get(), "quotiva", 7, &written, nullptr));
    EXPECT_EQ(out.Close(), 0u);
    EXPECT_TRUE(FileExistsAt(narrow));
    EXPECT_FALSE(FileExistsAt(narrow + ".missing"));
    EXPECT_FALSE(FileExistsAt(std::string(folders.back().begin(), folders.back().end())));  // a folder

    HANDLE in = CreateFileW(extended(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    char bytes[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(in, bytes, sizeof bytes, &read, nullptr));
    CloseHandle(in);
    EXPECT_EQ(std::string(bytes, read), "quotiva");

    DeleteFileW(extended(file).c_str());
    for (auto f = folders.rbegin(); f != folders.rend(); ++f) RemoveDirectoryW(extended(*f).c_str());
}

}  // namespace
}  // namespace qv
