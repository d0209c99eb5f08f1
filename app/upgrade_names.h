// File names of an upgrade run, free of platform calls: the names taken
// from the server's names-only listing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A listing line without the blanks, tabs, carriage returns and line feeds
// at either end (only those four characters).
std::string TrimListingLine(std::string_view line);

// "." and ".." stand for the listed folder and its parent, never for a
// file: some servers include them in a names-only listing.
bool IsFolderDotName(std::string_view name);

// Whether a listed name stays inside the installation folder when appended
// to it: not rooted ("\x", "/x"), no drive or stream (":"), no ".." part.
// Names of sub-folders ("sub/new.dll") stay inside and are kept.
bool StaysInsideInstallFolder(std::string_view name);

// Whether a part of the name (any folder or the file, split at "\" and
// "/") is a name that Windows takes for a device rather than a file: CON,
// PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, CONIN$ and CONOUT$, in any case,
// with or without an extension or trailing blanks ("nul", "Com1.dll",
// "sub/aux.txt", "lpt1 .x"). Writing a download there would write to the
// device.
bool NamesDevice(std::string_view name);

// The names to download, in listing order: every line trimmed; empty lines,
// the two folder names, names with a zero byte, names that would reach
// outside the installation folder and names of devices left out; any other
// name is kept as it stands.
std::vector<std::string> NamesFromListing(const std::vector<std::string>& lines);

}  // namespace qv
