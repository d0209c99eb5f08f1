// The process-wide registry of dispatchers (a dispatcher's handle is its
// slot there), and the system texts of the dispatch log's header.
#include "comms/dispatch/dispatcher.h"

#include <algorithm>

#include "framework/win32_text.h"

namespace qv {

namespace {

CriticalSection& RegistryLock() {
    static CriticalSection lock;
    return lock;
}

}  // namespace

std::vector<BaseDispatcher*>& DispatcherRegistry() {
    static std::vector<BaseDispatcher*> registry;
    return registry;
}

// A new dispatcher takes the first empty slot; its index is its handle.
int32_t BaseDispatcher::Register(BaseDispatcher* d) {
    LockGuard guard(RegistryLock());
    auto& registry = DispatcherRegistry();
    auto empty = std::find(registry.begin(), registry.end(), nullptr);
    if (empty != registry.end()) {
        *empty = d;
        return static_cast<int32_t>(empty - registry.begin());
    }
    registry.push_back(d);
    return static_cast<int32_t>(registry.size() - 1);
}

// The slot empties; empty slots at the end go, so the registry is only as
// long as its highest handle in use.
void BaseDispatcher::Unregister(BaseDispatcher* d) {
    LockGuard guard(RegistryLock());
    auto& registry = DispatcherRegistry();
    auto slot = static_cast<size_t>(d->handle_);
    if (d->handle_ >= 0 && slot < registry.size() && registry[slot] == d) registry[slot] = nullptr;
    while (!registry.empty() && registry.back() == nullptr) registry.pop_back();
}

BaseDispatcher* BaseDispatcher::FindDispatcher(int32_t deviceId, ClassTest ofClass) {
    if (deviceId < 0) return nullptr;
    return FirstRegistered([&](BaseDispatcher* d) { return d->deviceId_ == deviceId && (!ofClass || ofClass(d)); });
}

BaseDispatcher* BaseDispatcher::DispatcherAt(int32_t handle) {
    LockGuard guard(RegistryLock());
    auto& registry = DispatcherRegistry();
    if (handle < 0 || handle >= static_cast<int32_t>(registry.size())) return nullptr;
    return registry[handle];
}

int32_t BaseDispatcher::RegistryLength() {
    LockGuard guard(RegistryLock());
    return static_cast<int32_t>(DispatcherRegistry().size());
}

void BaseDispatcher::LockDispatcherList() { RegistryLock().Enter(); }
void BaseDispatcher::UnlockDispatcherList() { RegistryLock().Leave(); }

// ---- the log header's system texts --------------------------------------

std::string CompilerDescription() {
#if defined(__MINGW64__)
    return "GNU C++ " __VERSION__ " (mingw-w64, x86-64)";
#else
    return "GNU C++ " __VERSION__;
#endif
}

std::string OperatingSystemDescription() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) {
        info.dwPlatformId = VER_PLATFORM_WIN32_NT;
        info.dwMajorVersion = 0;
    }
    std::string text;
    switch (info.dwPlatformId) {
        case VER_PLATFORM_WIN32s: text = "Win32s on Windows "; break;
        case VER_PLATFORM_WIN32_WINDOWS: text = "Win32 on Windows "; break;
        case VER_PLATFORM_WIN32_NT: text = "Windows NT "; break;
        default: text = "Unknown"; break;
    }
    text += std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + " " +
            FromWide(info.szCSDVersion);
    if (text.size() > 80) text.resize(80);
    return text;
}

}  // namespace qv
