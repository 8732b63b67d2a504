#include "runtime/platform/console.h"

#include <windows.h>

#include <string>

#include "runtime/platform/wide_text_win32.h"

namespace runtime::platform {
namespace {

HANDLE report_output = nullptr;
// The output is a console window, which takes UTF-16 (WriteConsoleW):
// bytes written to it would be read in its OEM code page.
bool report_to_console = false;

bool WriteAll(const char* bytes, DWORD count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(report_output, bytes, count, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

bool WriteAllToConsole(const std::string& utf8) {
  const std::wstring wide = WideFromUtf8(utf8);
  const wchar_t* rest = wide.data();
  DWORD count = static_cast<DWORD>(wide.size());
  while (count > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(report_output, rest, count, &written, nullptr) || written == 0) return false;
    rest += written;
    count -= written;
  }
  return true;
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

bool OpenReportOutput() {
  // A GUI program gets standard handles only when its starter passed them
  // on: a redirection, a pipe, or Wine started from a terminal.
  HANDLE given = GetStdHandle(STD_OUTPUT_HANDLE);
  if (given != nullptr && given != INVALID_HANDLE_VALUE &&
      GetFileType(given) != FILE_TYPE_UNKNOWN) {
    report_output = given;
    report_to_console = IsConsole(given);
    return true;
  }
  // Started from a command prompt: write into its console window.
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
  HANDLE console =
      CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) {
    FreeConsole();
    return false;
  }
  report_output = console;
  report_to_console = true;
  return true;
}

bool WriteReportOutput(const char* bytes, int32_t count) {
  if (report_output == nullptr) return false;
  // The report is UTF-8: a file or a pipe gets its bytes, a console its
  // letters.
  std::string text;
  text.reserve(static_cast<size_t>(count) + 64);
  for (int32_t i = 0; i < count; ++i) {
    if (bytes[i] == '\n') text += '\r';
    text += bytes[i];
  }
  if (report_to_console) return WriteAllToConsole(text);
  return WriteAll(text.data(), static_cast<DWORD>(text.size()));
}

}  // namespace runtime::platform
