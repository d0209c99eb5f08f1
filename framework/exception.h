// The runtime's exception classes that the components raise and the
// application's exception report shows.
#pragma once

#include <exception>
#include <string>

namespace qv {

// Base of every exception this program raises on purpose: a message text and
// a help context.
class Exception : public std::exception {
public:
    explicit Exception(std::string message, int helpContext = 0);
    ~Exception() override = default;

    const std::string& Message() const { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    int HelpContext() const { return helpContext_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
    int helpContext_;
};

// A file or device error of the runtime; ErrorCode is the I/O error number
// (2 = file not found, 5 = access denied, 101 = disk full, ...).
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode);
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

// The runtime's out-of-memory error.
class EOutOfMemory : public Exception {
public:
    EOutOfMemory();
};

// A text that should have been a number (or similar) was not.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// File streams: opening or writing a file failed.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// Text of any exception for reports: Exception's message, otherwise what().
std::string ExceptionText(const std::exception& e);

}  // namespace qv
