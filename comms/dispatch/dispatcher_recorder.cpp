// The dispatcher's trace and dispatch log: switched on, paused and cleared
// by the port, and written to their files as text.
#include "comms/dispatch/dispatcher.h"

#include <algorithm>

#include "comms/base/comm_errors.h"
#include "framework/files.h"

namespace qv {

namespace {

struct TextLookup {
    std::string operator()(int32_t id) const { return MessageForCode(id); }
};

// Opens for writing: appending when asked and the file exists, otherwise
// created or emptied. Returns the I/O error code (0 = opened).
DWORD OpenDumpFile(const std::string& fileName, bool append, OwnedFile& file) {
    bool exists = append && FileExistsAt(fileName);
    file = OpenOwnedFile(fileName, GENERIC_WRITE, FILE_SHARE_READ, exists ? OPEN_EXISTING : CREATE_ALWAYS);
    if (!file) {
        DWORD e = GetLastError();
        return e ? e : ERROR_ACCESS_DENIED;
    }
    if (exists) SetFilePointer(file.Get(), 0, nullptr, FILE_END);
    return 0;
}

// Writes in pieces of 512 bytes, the size of the text buffer; returns the
// first error (0 = none).
DWORD WriteDumpText(HANDLE file, const std::string& text) {
    size_t at = 0;
    while (at < text.size()) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(512, text.size() - at)), written = 0;
        if (!WriteFile(file, text.data() + at, piece, &written, nullptr) || written != piece) {
            DWORD e = GetLastError();
            return e ? e : ERROR_WRITE_FAULT;
        }
        at += piece;
    }
    return 0;
}

}  // namespace

// ---- trace -------------------------------------------------------------

int32_t BaseDispatcher::StartTrace(int32_t capacity) {
    LockGuard guard(dataLock_);
    if (trace_) {
        trace_->Clear();
    } else {
        if (capacity > kMaxTraceCapacity) return kErrBadArgument;
        trace_ = std::make_unique<TraceRing>(capacity);
    }
    tracing_ = true;
    return 0;
}

int32_t BaseDispatcher::ClearTrace() {
    LockGuard guard(dataLock_);
    if (trace_) trace_->Clear();
    return 0;
}

void BaseDispatcher::StopTrace() {
    LockGuard guard(dataLock_);
    tracing_ = false;
    trace_.reset();
}

void BaseDispatcher::PauseTrace() {
    LockGuard guard(dataLock_);
    tracing_ = false;
}

void BaseDispatcher::ResumeTrace() {
    LockGuard guard(dataLock_);
    tracing_ = trace_ != nullptr;
}

void BaseDispatcher::AddTraceEntry(uint8_t kind, uint8_t byte) {
    LockGuard guard(dataLock_);
    if (trace_) trace_->Add(kind, byte);
}

int32_t BaseDispatcher::WriteTraceFile(const std::string& fileName, bool hex, bool allHex, bool append) {
    if (!trace_) return 0;
    tracing_ = false;
    LockGuard guard(dataLock_);
    if (trace_->Empty()) {
        StopTrace();
        return 0;
    }
    OwnedFile file;
    DWORD error = OpenDumpFile(fileName, append, file);
    if (error) {
        StopTrace();
        return -static_cast<int32_t>(error);
    }
    error = WriteDumpText(file.Get(), trace_->Format(hex, allHex));
    DWORD closeError = file.Close();
    if (!error) error = closeError;
    StopTrace();
    return -static_cast<int32_t>(error);
}

int32_t BaseDispatcher::DumpTrace(const std::string& fileName, bool hex, bool allHex) {
    return WriteTraceFile(fileName, hex, allHex, false);
}

int32_t BaseDispatcher::AppendTrace(const std::string& fileName, bool hex, bool allHex) {
    return WriteTraceFile(fileName, hex, allHex, true);
}

// ---- dispatch log ------------------------------------------------------

void BaseDispatcher::StartLog(int32_t capacity) {
    LockGuard guard(dataLock_);
    if (log_) {
        log_->Clear();
        return;
    }
    log_ = std::make_unique<LogRing>(capacity, std::max(inSize_, outSize_));
    logging_ = true;
}

void BaseDispatcher::ClearLog() {
    LockGuard guard(dataLock_);
    if (log_) log_->Clear();
}

void BaseDispatcher::StopLog() {
    LockGuard guard(dataLock_);
    logging_ = false;
    log_.reset();
}

void BaseDispatcher::PauseLog() {
    LockGuard guard(dataLock_);
    logging_ = false;
}

void BaseDispatcher::ResumeLog() {
    LockGuard guard(dataLock_);
    logging_ = log_ != nullptr;
}

void BaseDispatcher::AddLogEntry(uint8_t type, uint8_t subtype, int32_t length, const void* data, int32_t value) {
    LockGuard guard(dataLock_);
    if (logging_ && log_) log_->Add(type, subtype, ElapsedMs(), value, data, length);
}

int32_t BaseDispatcher::WriteLogFile(const std::string& fileName, bool hex, bool allHex, bool append) {
    if (!log_ || log_->Empty()) {
        StopLog();
        return 0;
    }
    logging_ = false;
    LockGuard guard(dataLock_);
    OwnedFile file;
    DWORD error = OpenDumpFile(fileName, append, file);
    if (error) return -static_cast<int32_t>(error);
    TextLookup texts;
    std::string text = FormatLogHeader(CompilerDescription(), OperatingSystemDescription(), texts);
    LogRecordHeader header;
    std::vector<uint8_t> data;
    while (!error && log_->Take(header, data)) {
        text += FormatLogRecord(header, data.data(), hex, allHex, texts);
        if (text.size() >= 512) {
            error = WriteDumpText(file.Get(), text);
            text.clear();
        }
    }
    if (!error) error = WriteDumpText(file.Get(), text);
    DWORD closeError = file.Close();
    if (!error) error = closeError;
    StopLog();
    return -static_cast<int32_t>(error);
}

int32_t BaseDispatcher::DumpLog(const std::string& fileName, bool hex, bool allHex) {
    return WriteLogFile(fileName, hex, allHex, false);
}

int32_t BaseDispatcher::AppendLog(const std::string& fileName, bool hex, bool allHex) {
    return WriteLogFile(fileName, hex, allHex, true);
}

}  // namespace qv
