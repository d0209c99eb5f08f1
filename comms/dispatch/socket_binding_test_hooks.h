// For test programs only: the module that BindSocketLibrary loads instead
// of "WSOCK32" (the stand-in socket modules that exercise the binding's
// failure paths). Must be set before the first binding of the process.
#pragma once

namespace qv {

void SetSocketLibraryModuleForTests(const char* moduleName);

}  // namespace qv
