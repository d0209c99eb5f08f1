#include "framework/exception.h"

namespace qv {

Exception::Exception(std::string message, int helpContext)
    : message_(std::move(message)), helpContext_(helpContext) {}

EInOutError::EInOutError(std::string message, int errorCode)
    : Exception(std::move(message)), errorCode_(errorCode) {}

EOutOfMemory::EOutOfMemory() : Exception("Out of memory") {}

std::string ExceptionText(const std::exception& e) {
    if (auto* ex = dynamic_cast<const Exception*>(&e)) return ex->Message();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return "Out of memory";
    return e.what();
}

}  // namespace qv
