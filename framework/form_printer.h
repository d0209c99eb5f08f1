// Writes a parsed form (FormObject) back as form resource text. Reading the
// text again gives the same tree, line numbers aside: properties come before
// nested objects (their relative order is not kept by the tree anyway),
// strings are quoted with escapes, and code page 950 characters stay as they
// are. Used to show what a form resource holds and to check the reader.
#pragma once

#include <string>

#include "framework/form_reader.h"

namespace qv {

std::string PrintForm(const FormObject& form);

// Whether two trees hold the same classes, names, properties and values in
// the same order, line numbers aside (what printing and reading keeps).
bool SameFormTree(const FormObject& a, const FormObject& b);

}  // namespace qv
