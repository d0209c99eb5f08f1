// Names of the temporary files a download is received into, free of
// platform calls.
//
// A download is received beside the installed file, in the same folder, so
// that putting it in place is one rename within one folder. Its name is the
// program's own and short ("~qv" + four hex digits + ".tmp"), whatever the
// installed file's name: a name the folder can hold must not fail only
// because the temporary name is longer, and a leftover of an interrupted run
// is known by its form alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// Paths are the program's 8-bit texts (Big5): a byte 0x5C inside a two-byte
// character is not a separator.

// The folder part of a path: everything up to and including its last "\" or
// "/" (empty when there is none).
std::string_view FolderOfPath(std::string_view path);

// folder + "~qv" + the number as four upper-case hex digits + ".tmp".
std::string StagingFileName(std::string_view folder, uint16_t number);

// Whether a file name (without folder) has the form StagingFileName gives:
// "~qv", exactly four hex digits, ".tmp", letters in any case (the file
// system does not keep case apart).
bool IsStagingFileName(std::string_view name);

// The kept copy of an installed file while an upgrade replaces it:
// folder + "~qv" + four hex digits + ".old", and the test of that form.
std::string KeptFileName(std::string_view folder, uint16_t number);
bool IsKeptFileName(std::string_view name);

}  // namespace qv
