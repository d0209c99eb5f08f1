// Paths beyond the classic length limit (platform-free, on UTF-16 text).
//
// The file functions take a plain path only up to the classic limit
// (MAX_PATH); beyond it only the extended-length form ("\\?\" before an
// absolute drive path) reaches the file. This is the program's one rule
// for it: every path that goes to a file function goes through
// FileFunctionPath (on Win32 through FileApiPath, framework/files.h, which
// converts the program's text first).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// From this length on (in UTF-16 units, without the closing zero) a path
// goes to the file functions in its extended-length form: the plain form
// ends near MAX_PATH (260 with the closing zero), and the extended form
// serves as well at any length.
inline constexpr size_t kExtendedFromLength = 259;

// "\\?\" + an absolute drive path ("D:\..." or "D:/..."), with "/" made "\"
// and empty and "." parts left out; a folder keeps its closing "\", and the
// root is "\\?\D:\". Empty when the path is not of that form or has a ".."
// part (the extended-length form does not resolve it).
std::wstring ExtendedLengthPath(std::wstring_view path);

// The name a file function is given for a path: the path itself while it is
// shorter than kExtendedFromLength; from there on its extended-length form,
// or the path itself when it has none (the function then fails as it would
// have).
std::wstring FileFunctionPath(std::wstring_view path);

}  // namespace qv
