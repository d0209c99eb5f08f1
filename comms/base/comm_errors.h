// Error codes, the message for a code, the communications exception tree and
// CheckErrorCode, the gate through which the component layer passes every
// dispatcher result.
#pragma once

#include <cstdint>
#include <string>

#include "framework/exception.h"

namespace qv {

class Component;

// The text of an error code or table id (at most 255 characters): the key is
// the magnitude of the code taken as a signed 16-bit value; the error table's
// text, else the operating system's message for that number (cleaned), else
// the empty text.
std::string MessageForCode(int32_t code);

// Root of the communications exceptions. From a code: ErrorCode = the code,
// message = MessageForCode of it. From a text: ErrorCode = 0.
class ECommException : public Exception {
public:
    explicit ECommException(int32_t code);
    explicit ECommException(const std::string& text);
    explicit ECommException(const char* text) : ECommException(std::string(text)) {}
    int32_t ErrorCode() const { return errorCode_; }

private:
    int32_t errorCode_;
};

#define QV_FAMILY(Family)                      \
    class Family : public ECommException {     \
    public:                                    \
        using ECommException::ECommException;  \
    };
#define QV_CLASS(Class, Family)   \
    class Class : public Family { \
    public:                       \
        using Family::Family;     \
    };
#define QV_MAP(code, Class)
#include "comms/base/comm_exception_classes.inc"
#undef QV_FAMILY
#undef QV_CLASS
#undef QV_MAP

// Raises the mapped exception for a negative code (see the .cpp for the
// order of the tests); returns the code when it is not negative or when the
// component is being loaded from its form resource.
int32_t CheckErrorCode(const Component* component, int32_t code);

}  // namespace qv
