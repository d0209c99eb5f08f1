// What the download benchmarks share: their command line, the clock, the
// peak working set and the RESULT line bench/run reads.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <optional>

namespace qv::bench {

struct Options {
    const char* port = nullptr;
    const char* user = nullptr;
    const char* password = "";
    const char* file = nullptr;  // the remote file
    const char* out = nullptr;   // the local file
    const char* host = "127.0.0.1";
    bool active = false;
    const char* Mode() const { return active ? "active" : "passive"; }
};

// --port N --user NAME --password TEXT --file REMOTE --out LOCAL [--active]
// [--host ADDRESS]; prints the usage and gives nothing when one is missing.
inline std::optional<Options> ParseOptions(int argc, char** argv, const char* program) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(argv[i], "--active") == 0) o.active = true;
        else if (!next) break;
        else if (std::strcmp(argv[i], "--port") == 0) o.port = argv[++i];
        else if (std::strcmp(argv[i], "--user") == 0) o.user = argv[++i];
        else if (std::strcmp(argv[i], "--password") == 0) o.password = argv[++i];
        else if (std::strcmp(argv[i], "--file") == 0) o.file = argv[++i];
        else if (std::strcmp(argv[i], "--out") == 0) o.out = argv[++i];
        else if (std::strcmp(argv[i], "--host") == 0) o.host = argv[++i];
    }
    if (!o.port || !o.user || !o.file || !o.out) {
        std::fprintf(stderr,
                     "usage: %s --port N --user NAME --password TEXT --file REMOTE --out LOCAL "
                     "[--active] [--host ADDRESS]\n",
                     program);
        return std::nullopt;
    }
    return o;
}

inline double Now() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline PROCESS_MEMORY_COUNTERS MemoryNow() {
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    return memory;
}

// The line bench/run reads; close_seconds -1 when the file's close cannot be
// timed apart; `extra` (" name=value ...") adds a program's own figures.
inline void PrintResult(const char* mode, long long bytes, double seconds, double closeSeconds, long long reads,
                        SIZE_T peakWorkingSet, const char* extra = "") {
    std::printf("RESULT mode=%s bytes=%lld seconds=%.6f close_seconds=%.6f reads=%lld peak_working_set=%llu%s\n",
                mode, bytes, seconds, closeSeconds, reads, static_cast<unsigned long long>(peakWorkingSet), extra);
    std::fflush(stdout);
}

}  // namespace qv::bench
