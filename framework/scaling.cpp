#include "framework/scaling.h"

namespace qv {

namespace {

using GetDpiForSystemFn = UINT(WINAPI*)();
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using SetProcessDpiAwarenessContextFn = BOOL(WINAPI*)(HANDLE);
using SetProcessDpiAwarenessFn = HRESULT(WINAPI*)(int);
using SetProcessDPIAwareFn = BOOL(WINAPI*)();

// DPI_AWARENESS_CONTEXT values and PROCESS_DPI_AWARENESS (newer headers
// than the ones this program is built for declare them).
const auto kContextPerMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
const auto kContextPerMonitor = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));
constexpr int kProcessPerMonitorDpiAware = 2;

template <class Fn>
Fn User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

int ScreenDeviceDpi() {
    HDC dc = GetDC(nullptr);
    int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : kDesignDpi;
}

}  // namespace

int SystemDpi() {
    static const auto getDpiForSystem = User32Function<GetDpiForSystemFn>("GetDpiForSystem");
    if (getDpiForSystem)
        if (UINT dpi = getDpiForSystem()) return static_cast<int>(dpi);
    return ScreenDeviceDpi();
}

int WindowDpi(HWND window) {
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow && window)
        if (UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
    return SystemDpi();
}

bool AdjustWindowRectForDpi(RECT& rect, DWORD style, bool menu, DWORD exStyle, int dpi) {
    static const auto adjust = User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    if (adjust) return adjust(&rect, style, menu, exStyle, static_cast<UINT>(dpi)) != FALSE;
    return AdjustWindowRectEx(&rect, style, menu, exStyle) != FALSE;
}

bool EnablePerMonitorDpiAwareness() {
    if (auto setContext = User32Function<SetProcessDpiAwarenessContextFn>("SetProcessDpiAwarenessContext")) {
        if (setContext(kContextPerMonitorV2) || setContext(kContextPerMonitor)) return true;
    }
    if (HMODULE shcore = LoadLibraryW(L"shcore.dll")) {
        auto setAwareness = reinterpret_cast<SetProcessDpiAwarenessFn>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")));
        // The library stays loaded: the setting lives in it on Windows 8.1.
        if (setAwareness && SUCCEEDED(setAwareness(kProcessPerMonitorDpiAware))) return true;
    }
    auto setAware = User32Function<SetProcessDPIAwareFn>("SetProcessDPIAware");
    return setAware && setAware();
}

}  // namespace qv
