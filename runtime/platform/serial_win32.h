#ifndef WEIGH_RUNTIME_PLATFORM_SERIAL_WIN32_H_
#define WEIGH_RUNTIME_PLATFORM_SERIAL_WIN32_H_

// Pieces of the Win32 serial backend that are worth testing on their own.

#include <windows.h>

#include "runtime/platform/serial.h"

namespace runtime::platform {

// Longest part of a port name that goes into the device path.
constexpr int kMaxPortNameInPath = 59;

// Writes "\\.\" followed by at most the first 59 characters of the device
// name in `name` into `path` (64 bytes with the terminating zero). The name
// may begin with "\\.\" itself. Returns false, leaving `path` empty, when
// `name` is no device name: nothing, or nothing but dots and spaces, or
// with a backslash, slash or colon after that beginning (a drive, a share,
// a pipe or a folder).
bool MakeDevicePath(const char* name, char (&path)[64]);

// Applies `settings` to a DCB read with GetCommState. Fields that the
// settings do not name keep the device's values.
void ApplyPortSettings(const PortSettings& settings, DCB* dcb);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_SERIAL_WIN32_H_
