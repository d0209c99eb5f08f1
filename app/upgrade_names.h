// File names of an upgrade run, free of platform calls: the names taken
// from the server's names-only listing.
#pragma once

#include <functional>
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

// Whether Windows would store the file under another name than the one
// given: a part (folder or file, split at "\" and "/") that ends in a dot or
// a blank, which Windows drops ("QVX.exe." is "QVX.exe", "..." is nothing),
// or a first byte of a Big5 character without a second byte, which the
// system turns into a character of its own choosing. The parts "." and
// ".." are not names of files and are judged elsewhere.
//
// This check and the key below split a name as Windows does, Big5-aware: the
// second byte of a character is never a separator, even where it has the
// code of "\" (where that view is the stricter one). The safety checks above
// take every "\" byte for a separator, which is the stricter view there.
bool WindowsChangesName(std::string_view name);

// Folds a name to the form in which Windows compares names (capitals for
// small letters). The portable fold takes ASCII letters only, and never the
// second byte of a Big5 character (which may be an ASCII letter's code);
// the program passes the system's own, which knows every letter.
using NameFold = std::function<std::string(std::string_view name)>;
std::string FoldAsciiLetters(std::string_view name);

// The key under which Windows finds a listed file: "." and empty parts
// dropped, the dots and blanks at each part's end dropped, parts joined by
// "\", then folded. Two names with one key are one file on Windows
// ("QVX.exe", "qvx.EXE" and "./QVX.exe."; "sub/a.dll" and "SUB\A.DLL").
std::string WindowsNameKey(std::string_view name, NameFold fold = FoldAsciiLetters);

// The names to download, in listing order: every line trimmed; empty lines,
// the two folder names, names with a zero byte, names that would reach
// outside the installation folder, names of devices and names Windows would
// change left out; of names that are one file on Windows, the first is
// kept and the others are left out and added to `duplicates` (when given),
// in listing order. Any other name is kept as it stands.
std::vector<std::string> NamesFromListing(const std::vector<std::string>& lines,
                                          std::vector<std::string>* duplicates = nullptr,
                                          NameFold fold = FoldAsciiLetters);

}  // namespace qv
