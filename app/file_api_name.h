// The name the file functions take for a path of the program's code page.
#pragma once

#include <string>

namespace qv {

// The path as UTF-16, in the long form ("\\?\D:\...") when it reaches the
// classic path length limit: a long file name in the installation folder
// is beyond what the plain form can reach.
std::wstring FileApiName(const std::string& path);

}  // namespace qv
