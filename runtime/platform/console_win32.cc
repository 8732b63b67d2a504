#include "runtime/platform/console.h"

#include <windows.h>

namespace runtime::platform {
namespace {

HANDLE report_output = nullptr;

bool WriteAll(const char* bytes, DWORD count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(report_output, bytes, count, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

}  // namespace

bool OpenReportOutput() {
  // A GUI program gets standard handles only when its starter passed them
  // on: a redirection, a pipe, or Wine started from a terminal.
  HANDLE given = GetStdHandle(STD_OUTPUT_HANDLE);
  if (given != nullptr && given != INVALID_HANDLE_VALUE &&
      GetFileType(given) != FILE_TYPE_UNKNOWN) {
    report_output = given;
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
  return true;
}

bool WriteReportOutput(const char* bytes, int32_t count) {
  if (report_output == nullptr) return false;
  int32_t start = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (bytes[i] != '\n') continue;
    if (!WriteAll(bytes + start, static_cast<DWORD>(i - start)) || !WriteAll("\r\n", 2)) {
      return false;
    }
    start = i + 1;
  }
  return WriteAll(bytes + start, static_cast<DWORD>(count - start));
}

}  // namespace runtime::platform
