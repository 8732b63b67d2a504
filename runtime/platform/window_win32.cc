#include "runtime/platform/window.h"

#include <windows.h>
// These build on windows.h.
#include <commctrl.h>
#include <objbase.h>

#include <string>

#include "runtime/platform/system_library_win32.h"
#include "runtime/platform/wide_text_win32.h"

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
  SYSTEM_CALL(EnumWindows, FALSE, VisitWindow, static_cast<LPARAM>(1));
  current_visitor = outer;
}

uint32_t WindowThreadId(WindowHandle window) {
  return SYSTEM_CALL(GetWindowThreadProcessId, 0ul, AsHwnd(window), static_cast<DWORD*>(nullptr));
}

uint32_t WindowProcessId(WindowHandle window) {
  DWORD process = 0;
  SYSTEM_CALL(GetWindowThreadProcessId, 0ul, AsHwnd(window), &process);
  return process;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

bool IsVisibleWindow(WindowHandle window) {
  return SYSTEM_CALL(IsWindowVisible, FALSE, AsHwnd(window)) != FALSE;
}

bool IsEnabledWindow(WindowHandle window) {
  return SYSTEM_CALL(IsWindowEnabled, FALSE, AsHwnd(window)) != FALSE;
}

void EnableTopLevelWindow(WindowHandle window, bool enable) {
  SYSTEM_CALL(EnableWindow, FALSE, AsHwnd(window), enable ? TRUE : FALSE);
}

bool IsTopmostWindow(WindowHandle window) {
  return (SYSTEM_CALL(GetWindowLongA, 0l, AsHwnd(window), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

void SetWindowTopmost(WindowHandle window, bool topmost) {
  SYSTEM_CALL(SetWindowPos, FALSE, AsHwnd(window), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0,
              0, static_cast<UINT>(SWP_NOMOVE | SWP_NOSIZE));
}

WindowHandle ForegroundWindow() { return SYSTEM_CALL(GetForegroundWindow, HWND{nullptr}); }

int32_t ShowPlatformMessageBox(WindowHandle owner, const char* text, const char* title,
                               uint32_t style) {
  // The box's controls are the manifest's common controls, whatever lies
  // beside the program.
  OwnManifestScope manifest;
  return SYSTEM_CALL(MessageBoxA, 0, AsHwnd(owner), text, title, static_cast<UINT>(style));
}

int32_t ShowPlatformUtf8MessageBox(WindowHandle owner, const char* text, const char* title,
                                   uint32_t style) {
  OwnManifestScope manifest;
  const std::wstring wide_text = WideFromUtf8(text);
  const std::wstring wide_title = WideFromUtf8(title);
  return SYSTEM_CALL(MessageBoxW, 0, AsHwnd(owner), wide_text.c_str(), wide_title.c_str(),
                     static_cast<UINT>(style));
}

void StartWindowSystem() {
  // COMCTL32 is not imported: it would load before main, by a search that
  // begins in the program's folder, with the UXTHEME it needs. The system
  // folder's UXTHEME goes first, so that the common controls find it
  // loaded; COMCTL32 itself comes through the table, under the program's
  // own manifest (version 6).
  LoadSystemLibrary(L"uxtheme.dll");
  OwnManifestScope manifest;
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = 8;
  controls.dwICC = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                   ICC_INTERNET_CLASSES;
  static_assert(ICC_TAB_CLASSES + ICC_HOTKEY_CLASS + ICC_DATE_CLASSES + ICC_USEREX_CLASSES +
                    ICC_INTERNET_CLASSES ==
                0xB48);
  SYSTEM_CALL(InitCommonControlsEx, FALSE, &controls);
  SYSTEM_CALL(CoInitialize, static_cast<HRESULT>(E_FAIL), nullptr);
}

}  // namespace runtime::platform
