#include "runtime/platform/window.h"

#include <windows.h>
// These build on windows.h.
#include <commctrl.h>
#include <objbase.h>

#include "runtime/platform/system_library_win32.h"

namespace runtime::platform {
namespace {

// EnumWindows is given the fixed value 1, so the visitor of the calling
// thread's enumeration waits here.
thread_local WindowVisitor current_visitor = nullptr;

BOOL CALLBACK VisitWindow(HWND window, LPARAM /*value*/) {
  if (current_visitor != nullptr) current_visitor(window);
  return TRUE;
}

HWND AsHwnd(WindowHandle window) { return static_cast<HWND>(window); }

}  // namespace

void EnumerateTopLevelWindows(WindowVisitor visit) {
  // A visitor may itself enumerate (through a window procedure); the outer
  // enumeration gets its visitor back afterwards.
  WindowVisitor outer = current_visitor;
  current_visitor = visit;
  EnumWindows(VisitWindow, 1);
  current_visitor = outer;
}

uint32_t WindowThreadId(WindowHandle window) {
  return GetWindowThreadProcessId(AsHwnd(window), nullptr);
}

uint32_t WindowProcessId(WindowHandle window) {
  DWORD process = 0;
  GetWindowThreadProcessId(AsHwnd(window), &process);
  return process;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

bool IsVisibleWindow(WindowHandle window) { return IsWindowVisible(AsHwnd(window)) != FALSE; }

bool IsEnabledWindow(WindowHandle window) { return IsWindowEnabled(AsHwnd(window)) != FALSE; }

void EnableTopLevelWindow(WindowHandle window, bool enable) {
  EnableWindow(AsHwnd(window), enable ? TRUE : FALSE);
}

bool IsTopmostWindow(WindowHandle window) {
  return (GetWindowLongA(AsHwnd(window), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

void SetWindowTopmost(WindowHandle window, bool topmost) {
  SetWindowPos(AsHwnd(window), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE);
}

WindowHandle ForegroundWindow() { return GetForegroundWindow(); }

int32_t ShowPlatformMessageBox(WindowHandle owner, const char* text, const char* title,
                               uint32_t style) {
  return MessageBoxA(AsHwnd(owner), text, title, style);
}

void StartWindowSystem() {
  // COMCTL32 is not imported: it would load before main, and with it the
  // UXTHEME it needs, which is no DLL that Windows always takes from the
  // system folder. The system folder's UXTHEME goes first, so that the
  // common controls find it loaded; COMCTL32 itself is named bare, so that
  // the manifest's side-by-side assembly (version 6) answers for it.
  LoadSystemLibrary(L"uxtheme.dll");
  HMODULE controls_library = LoadLibraryW(L"comctl32.dll");
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  InitFunction init_common_controls = nullptr;
  if (controls_library != nullptr) {
    init_common_controls = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(GetProcAddress(controls_library, "InitCommonControlsEx")));
  }
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = 8;
  controls.dwICC = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                   ICC_INTERNET_CLASSES;
  static_assert(ICC_TAB_CLASSES + ICC_HOTKEY_CLASS + ICC_DATE_CLASSES + ICC_USEREX_CLASSES +
                    ICC_INTERNET_CLASSES ==
                0xB48);
  if (init_common_controls != nullptr) init_common_controls(&controls);
  CoInitialize(nullptr);
}

}  // namespace runtime::platform
