#ifndef WEIGH_RUNTIME_PLATFORM_WINDOW_H_
#define WEIGH_RUNTIME_PLATFORM_WINDOW_H_

#include <cstdint>

namespace runtime::platform {

// A top-level window of the desktop (HWND on Windows); nullptr is none.
using WindowHandle = void*;

// Called once for each top-level window found by EnumerateTopLevelWindows.
using WindowVisitor = void (*)(WindowHandle window);

// Calls `visit` for every top-level window of the desktop, never stopping
// early (EnumWindows with the value 1 on Windows). A platform without such
// windows in this process calls it for none.
void EnumerateTopLevelWindows(WindowVisitor visit);

// Returns the identifier of the thread that created `window`.
uint32_t WindowThreadId(WindowHandle window);

// Returns the identifier of the process that created `window`, to compare
// with CurrentProcessId() of runtime/platform/process_control.h.
uint32_t WindowProcessId(WindowHandle window);

// Returns the identifier of the calling thread.
uint32_t CurrentThreadId();

// True when `window` is shown.
bool IsVisibleWindow(WindowHandle window);

// True when `window` accepts input.
bool IsEnabledWindow(WindowHandle window);

// Lets `window` accept input again (`enable` true) or stops it from doing so.
void EnableTopLevelWindow(WindowHandle window, bool enable);

// True when `window` has the always-on-top style (bit 0x8 of the extended
// style on Windows).
bool IsTopmostWindow(WindowHandle window);

// Puts `window` into the always-on-top band or takes it out, without moving
// or resizing it.
void SetWindowTopmost(WindowHandle window, bool topmost);

// Returns the window the operator is working with, or nullptr.
WindowHandle ForegroundWindow();

// Shows a modal message box owned by `owner` (may be nullptr) and waits until
// it is dismissed. `style` is the Windows box type (MB_OK is 0). Returns the
// identifier of the button that closed it (IDOK is 1), or 0 when no box
// could be shown. Without a window system the title and the text go to
// standard error, one line for the title, and the result is 0.
int32_t ShowPlatformMessageBox(WindowHandle owner, const char* text, const char* title,
                               uint32_t style);

// Like ShowPlatformMessageBox, for a title and a text in UTF-8 (paths and
// names with every letter): MessageBoxW on Windows, where
// ShowPlatformMessageBox passes the bytes on in the ANSI code page; the
// same as ShowPlatformMessageBox elsewhere.
int32_t ShowPlatformUtf8MessageBox(WindowHandle owner, const char* text, const char* title,
                                   uint32_t style);

// Prepares the window system for message boxes at program start: common
// controls and COM on Windows. Failures are ignored.
void StartWindowSystem();

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_WINDOW_H_
