// Display scaling, the Win32 side: the DPI of the system and of a window,
// asked with what the Windows version at hand offers. The per-window
// functions (Windows 10) are looked up at run time, so that the program
// still starts on Windows 7 and 8, where the DPI of the screen's device
// context is the only one there is.
#pragma once

#include <windows.h>

#include "framework/scaling_core.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace qv {

// The DPI windows of this process are laid out at by default: the
// system's, or 96 where the process is not aware of display scaling (the
// system then scales its windows as pictures).
int SystemDpi();
// The DPI of the monitor a window is on, as far as the process's
// awareness lets it see it; the system DPI where that cannot be asked.
int WindowDpi(HWND window);
// The frame around a client rectangle at a DPI (AdjustWindowRectEx where
// the DPI-specific version is missing: the frame of the system DPI).
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, bool menu, DWORD exStyle, int dpi);
// Makes this process aware of each monitor's DPI (version 2 where there is
// one) as the program's manifest does: for programs without that manifest,
// such as test programs. False when the system offers no way to.
bool EnablePerMonitorDpiAwareness();

}  // namespace qv
