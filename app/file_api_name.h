// Names of the program's code page as the system takes them: the name the
// file functions take for a path, and names compared as Windows compares
// them.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// The path as UTF-16, in the long form ("\\?\D:\...") when it reaches the
// classic path length limit: a long file name in the installation folder
// is beyond what the plain form can reach.
std::wstring FileApiName(const std::string& path);

// A name with every letter the system knows folded to its capital (not only
// ASCII ones), as Windows compares file names: the NameFold
// (upgrade_names.h) that the program passes to NamesFromListing and
// ParseManifest / VerifyManifest. The result is a key for comparing, UTF-8.
std::string SystemNameFold(std::string_view name);

}  // namespace qv
