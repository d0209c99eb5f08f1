// Narrow <-> UTF-16 at the W-API boundary.
//
// The program's 8-bit texts are Big5 (code page 950): the window's Chinese
// texts are stored that way, and ASCII passes through Big5 unchanged, so one
// code page serves every narrow text whatever the system's ANSI code page is.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qv {

inline constexpr UINT kTextCodePage = 950;

std::wstring ToWide(std::string_view text, UINT codePage = kTextCodePage);
std::string FromWide(std::wstring_view text, UINT codePage = kTextCodePage);

}  // namespace qv
