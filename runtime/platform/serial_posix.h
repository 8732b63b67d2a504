#ifndef WEIGH_RUNTIME_PLATFORM_SERIAL_POSIX_H_
#define WEIGH_RUNTIME_PLATFORM_SERIAL_POSIX_H_

// Pieces of the POSIX serial backend that are worth testing on their own.

#include <sys/types.h>
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

// What a character device under /dev is to a weighing.
enum class DeviceVerdict {
  kSerialLine,       // a line that may be the scale's
  kTerminal,         // a virtual console, /dev/tty, /dev/console, /dev/ptmx
  kConsole,          // the line the kernel uses as its console
  kSessionTerminal,  // some running process's controlling terminal
  kOtherDevice,      // anything that is no terminal line
};

// Where the kernel shows its devices and processes: "/sys" and "/proc",
// other folders in tests.
struct KernelViews {
  std::string sys = "/sys";
  std::string proc = "/proc";
};

// Judges the character device numbered `device` from its number and from
// what `views` tell, without opening it: opening some devices is an act of
// its own. Fixed numbers first (virtual consoles and major 5 are
// terminals); then the kernel's tty class must list it, or, where /sys has
// no entry for it, its number must be a serial line's or a pty slave's;
// then it must not be a kernel console (class/tty/console/active, or
// /proc/consoles) nor field 7 (tty_nr) of any /proc/PID/stat. Where the
// process list cannot be read at all, pty slaves, the usual session
// terminals, count as a session's.
DeviceVerdict JudgeCharacterDevice(dev_t device, const KernelViews& views);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_SERIAL_POSIX_H_
