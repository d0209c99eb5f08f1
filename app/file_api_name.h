// Names of the program's code page compared as Windows compares them (the
// name the file functions take for a path is framework/files.h's
// FileApiPath).
#pragma once

#include <string>
#include <string_view>

namespace qv {

// A name with every letter the system knows folded to its capital (not only
// ASCII ones), as Windows compares file names: the NameFold
// (upgrade_names.h) that the program passes to NamesFromListing and
// ParseManifest / VerifyManifest. The result is a key for comparing, UTF-8.
std::string SystemNameFold(std::string_view name);

}  // namespace qv
