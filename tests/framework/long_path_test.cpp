#include "framework/long_path.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 0x80 ? static_cast<char>(c) : '?';
    return s;
}

TEST(LongPath, ExtendedFormOfAbsoluteDrivePathsOnly) {
    struct Case {
        const wchar_t* path;
        const wchar_t* extended;
    } cases[] = {
        {L"D:\\Zentra\\main\\QVX.exe", L"\\\\?\\D:\\Zentra\\main\\QVX.exe"},
        {L"D:\\Zentra\\main\\sub/new.dll", L"\\\\?\\D:\\Zentra\\main\\sub\\new.dll"},
        {L"d:/a//b/./c", L"\\\\?\\d:\\a\\b\\c"},
        {L"D:\\Zentra\\main\\", L"\\\\?\\D:\\Zentra\\main\\"},
        {L"D:\\Zentra\\main\\.", L"\\\\?\\D:\\Zentra\\main"},
        {L"D:\\", L"\\\\?\\D:\\"},
        {L"D:/", L"\\\\?\\D:\\"},
        // A Chinese name whose Big5 form holds the byte of "\" stays whole.
        {L"D:\\\u529f\u80fd.dll", L"\\\\?\\D:\\\u529f\u80fd.dll"},
        // Not of that form, or not to be resolved in the extended form.
        {L"D:x.dll", L""},
        {L"\\Zentra\\QVX.exe", L""},
        {L"\\\\server\\share\\x", L""},
        {L"QVX.exe", L""},
        {L"", L""},
        {L"D:\\Zentra\\..\\QVX.exe", L""},
        {L"D:\\Zentra\\..", L""},
        {L"1:\\x", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(ExtendedLengthPath(c.path), c.extended) << Narrow(c.path);
}

TEST(LongPath, PlainBelowTheLimitExtendedFromIt) {
    const std::wstring folder = L"D:\\Zentra\\main\\";
    auto ofLength = [&](size_t n) { return folder + std::wstring(n - folder.size(), L'a'); };
    struct Case {
        std::wstring path;
        std::wstring given;
    } cases[] = {
        {ofLength(kExtendedFromLength - 1), ofLength(kExtendedFromLength - 1)},
        {ofLength(kExtendedFromLength), L"\\\\?\\" + ofLength(kExtendedFromLength)},
        {ofLength(400), L"\\\\?\\" + ofLength(400)},
        {L"D:/short/x", L"D:/short/x"},
        // Long, but without an extended form: handed on as it is.
        {std::wstring(300, L'b'), std::wstring(300, L'b')},
        {L"D:\\x\\..\\" + std::wstring(300, L'c'), L"D:\\x\\..\\" + std::wstring(300, L'c')},
    };
    for (const Case& c : cases) EXPECT_EQ(FileFunctionPath(c.path), c.given) << c.path.size();
}

}  // namespace
}  // namespace qv
