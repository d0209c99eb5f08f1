#include "comms/base/comm_errors.h"

#include <windows.h>

#include "comms/base/comm_misc_core.h"
#include "comms/base/string_resource.h"
#include "framework/component.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

constexpr size_t kMaxMessage = 255;

std::string SystemMessage(int key) {
    wchar_t buffer[kMaxMessage + 1];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(key), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                             static_cast<DWORD>(kMaxMessage), nullptr);
    if (n == 0) return {};
    return CleanSystemMessage(FromWide(std::wstring_view(buffer, n)).substr(0, kMaxMessage));
}

}  // namespace

std::string MessageForCode(int32_t code) {
    int16_t key16 = static_cast<int16_t>(code);
    int key = key16 < 0 ? -int(key16) : int(key16);
    std::string text;
    if (ErrorStrings) {
        try {
            text = ErrorStrings->TextById(key).substr(0, kMaxMessage);
        } catch (const EStringResourceError&) {
            text.clear();
        }
    }
    if (text.empty()) text = SystemMessage(key);
    return text;
}

ECommException::ECommException(int32_t code) : Exception(MessageForCode(code)), errorCode_(code) {}

ECommException::ECommException(const std::string& text) : Exception(text), errorCode_(0) {}

namespace {

[[noreturn]] void RaiseMapped(int32_t code) {
    switch (code) {
#define QV_FAMILY(Family)
#define QV_CLASS(Class, Family)
#define QV_MAP(value, Class) \
    case value: throw Class(code);
#include "comms/base/comm_exception_classes.inc"
#undef QV_FAMILY
#undef QV_CLASS
#undef QV_MAP
        default: throw ECommException("Communications exception");
    }
}

}  // namespace

int32_t CheckErrorCode(const Component* component, int32_t code) {
    if (code >= 0) return code;
    if (component && component->Loading()) return code;
    if (code >= -162 && code <= -2) {
        if (code == -8) throw EOutOfMemory();
        throw EInOutError(MessageForCode(-code), -code);
    }
    RaiseMapped(code);
}

}  // namespace qv
