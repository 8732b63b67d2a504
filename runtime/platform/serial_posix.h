#ifndef WEIGH_RUNTIME_PLATFORM_SERIAL_POSIX_H_
#define WEIGH_RUNTIME_PLATFORM_SERIAL_POSIX_H_

// Pieces of the POSIX serial backend that are worth testing on their own.

#include <termios.h>

#include <string>

#include "runtime/platform/serial.h"

namespace runtime::platform {

// Maps a port name onto a device path: "COMn" (n from 1) is /dev/ttyS<n-1>,
// a name beginning with '/' is a path as it is, any other name is
// /dev/<name>. Returns the empty string for names that can never open: the
// empty name and names that already carry the Windows "\\.\" prefix.
std::string SerialDevicePath(const char* name);

// Whether `path` has a ".." among its parts: a port name never needs one.
bool HasParentStep(const std::string& path);

// What to do with the RTS line after the settings are applied.
enum class RtsLine { kLeave, kClear, kSet };

// Turns `options`, as read from the device, into raw mode with `settings`.
// Returns false for settings that the line cannot take (an unknown speed,
// data bits outside 5 to 8, a parity code above 4).
bool ApplyPortSettings(const PortSettings& settings, termios* options, RtsLine* rts);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_SERIAL_POSIX_H_
