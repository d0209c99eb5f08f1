// Reader of an "STR0" message table stored as a named RCDATA resource.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/exception.h"

namespace qv {

class EStringResourceError : public Exception {
public:
    using Exception::Exception;
};

class StringResource {
public:
    // An empty name gives a reader without a table.
    StringResource(HMODULE module, const std::string& name);
    virtual ~StringResource();
    StringResource(const StringResource&) = delete;
    StringResource& operator=(const StringResource&) = delete;

    // When true, TextById of a missing id raises "String not found: <id>";
    // when false it yields the empty text.
    bool RaiseOnMissing = false;

    // Releases any table held, then finds (in module, else in the program's
    // own module), loads and validates the named table. A table that is
    // truncated, lacks the magic or has entries pointing outside it is
    // refused with "Invalid string table resource" and is still held until
    // closed, as a table with a bad magic is.
    void OpenResource(HMODULE module, const std::string& name);
    void CloseResource();
    bool HasTable() const { return loaded_ != nullptr; }

    // The text of the entry in the program's 8-bit code page.
    std::string TextById(int32_t id);

private:
    class Mapping;
    HGLOBAL loaded_ = nullptr;
    DWORD size_ = 0;
    bool valid_ = false;  // the held table passed the checks at open
    const uint8_t* mapped_ = nullptr;
};

// The process-wide readers: ReaderStrings over "STRTABLE_STRINGS" (opened
// first: it holds the reader's own messages), ErrorStrings over
// "COMMS_ERROR_STRINGS_ENGLISH". Null before InitializeCommsBase and after
// FinalizeCommsBase.
extern StringResource* ReaderStrings;
extern StringResource* ErrorStrings;

}  // namespace qv
