#ifndef WEIGH_RUNTIME_PLATFORM_CONSOLE_H_
#define WEIGH_RUNTIME_PLATFORM_CONSOLE_H_

#include <cstdint>
#include <string>

namespace runtime::platform {

// Finds where a report for the person who started the program can be
// written. POSIX: standard output, always. Windows: the standard output the
// program was given (a redirection or a pipe), else the console of the
// process that started it, which is attached for this. Returns false when
// there is neither.
bool OpenReportOutput();

// Writes `count` bytes of report text to what OpenReportOutput found; each
// LF goes out as CR LF on Windows. Windows: the text is UTF-8, written as
// it is to a file or a pipe and as UTF-16 (WriteConsoleW) to a console.
// Returns false when not everything could be written.
bool WriteReportOutput(const char* bytes, int32_t count);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_CONSOLE_H_
