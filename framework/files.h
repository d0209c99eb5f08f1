// The file test of the Win32 side: whether a path names an existing file.
#pragma once

#include <string>

namespace qv {

// True only for an existing file (a folder of that name does not count).
// An empty removable drive answers false at once, without the system's
// "insert a disk" box.
bool FileExistsAt(const std::string& path);

}  // namespace qv
