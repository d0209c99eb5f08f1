// A re-entrant lock (CRITICAL_SECTION) and its RAII guard.
#pragma once

#include <windows.h>

namespace qv {

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&cs_); }
    ~CriticalSection() { DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class LockGuard {
public:
    explicit LockGuard(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~LockGuard() { cs_.Leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    CriticalSection& cs_;
};

}  // namespace qv
