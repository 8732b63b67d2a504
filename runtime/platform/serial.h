#ifndef WEIGH_RUNTIME_PLATFORM_SERIAL_H_
#define WEIGH_RUNTIME_PLATFORM_SERIAL_H_

#include <cstdint>

namespace runtime::platform {

// An open serial device; 0 means none. Never 0 for an open device.
using PortHandle = std::intptr_t;

// Line settings as the port table receives them.
struct PortSettings {
  int32_t baud;
  uint8_t parity;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t dataBits;
  float stopBits;     // exactly 1.0 one, exactly 2.0 two, otherwise one and a half
  int32_t handshake;  // 0 none/RTS off, 1 RTS on, 2 RTS/CTS, 3 XON/XOFF, other: unchanged
  int32_t inputBufferSize;
  int32_t outputBufferSize;
};

// Why a serial device could not be opened.
enum class PortFailure {
  kNone,             // it opened
  kNotFound,         // nothing answers to the name (an adapter not plugged in)
  kInUse,            // another program, or this one, has the device open or
                     // holds it exclusively
  kAccessDenied,     // this user may not open the device
  kSettingsRefused,  // it opened, but is no serial line or refused the settings
  kNotAPort,         // the name leads to something that is no port: nothing was
                     // read, written or set there, and trying again cannot help
  kOther,            // any other reason
};

// What a name refused with PortFailure::kNotAPort leads to.
enum class NotAPort {
  kFile,             // an ordinary file
  kPipe,             // a pipe or socket
  kPath,             // a path: a folder, a share, anything outside the devices
  kDevice,           // a device that is no serial line
  kTerminal,         // a console or terminal of the system: a virtual console,
                     // the own terminal (/dev/tty), /dev/console, the pty
                     // maker; on Windows CON, CONIN$, CONOUT$
  kConsole,          // the line the kernel writes its console to
  kSessionTerminal,  // the terminal of a running session, whoever owns it
};

// What OpenSerialDevice reports about a failed open.
struct PortOpenError {
  PortFailure reason = PortFailure::kNone;
  // The platform's own code for the call that failed (errno on POSIX,
  // GetLastError() on Windows); 0 when no call failed.
  int32_t systemCode = 0;
  // For PortFailure::kNotAPort: what the name leads to.
  NotAPort what = NotAPort::kPath;
};

// Opens the serial device called `name` for exclusive use, reading and
// writing, and configures it with `settings`: line settings, queue sizes and
// time-outs under which a read of the waiting count returns at once and a
// write of n bytes gives up after 100 * n + 10 ms. Returns 0 when the device
// does not exist, is in use (in this process or another) or refuses the
// settings, and then says why in `error` when it is given; a device opened
// here is closed again before 0 is returned.
//
// A port is a serial line and never a path, a terminal or another device,
// since whoever can write the configuration could otherwise point the
// program at files, shares, pipes or somebody's typing. Every refusal below
// is PortFailure::kNotAPort and comes before anything is read, written or
// set on the device.
//
// Windows: the name is a device name ("COM3", "CNCA0", optionally after
// "\\.\") without a further backslash, slash or colon, and not one of the
// console's (CON, CONIN$, CONOUT$); the handle must be a
// character device that answers GetCommState and GetCommTimeouts (NUL and
// printers do not), and only then are queue sizes, settings and time-outs
// set. With handshake mode 0 every flow-control field of the DCB is set:
// no CTS, DSR or XON/XOFF flow control, no DSR sensitivity, RTS off; DTR
// keeps what the device had.
//
// POSIX: the name must lead to a character device under /dev, without a
// ".." on the way, examined through an open that cannot touch the device.
// The device number decides: virtual consoles (major 4, minors 0 to 63),
// /dev/tty, /dev/console and /dev/ptmx (major 5) are refused; so is the line
// the kernel uses as its console and any terminal that a running process
// has as its controlling terminal. Otherwise the kernel's tty class must
// list the device; where /sys cannot tell, only the numbers of serial lines
// open (8250/16550 major 4 from minor 64, USB serial 188, ACM 166, pty
// slaves 136 to 143). A line another program holds exclusively (TIOCEXCL) is
// PortFailure::kInUse, even to root, who could open it anyway.
//
// Both: the settings and time-outs found at the open are given back by
// CloseSerial. On POSIX, TERM, INT, HUP and QUIT that arrive while a line is
// open (and were not ignored) first give the line its settings and its
// exclusivity back and then end the process as the signal would have.
PortHandle OpenSerialDevice(const char* name, const PortSettings& settings,
                            PortOpenError* error = nullptr);

// Throws away whatever was received and not yet read: bytes that were
// waiting before the port was opened are no answer to a request sent now.
void DiscardSerialInput(PortHandle port);

// Sends `count` bytes unchanged. Returns how many were sent.
int32_t WriteSerial(PortHandle port, const void* bytes, int32_t count);

// Returns how many received bytes a read can take without waiting; 0 when
// the platform cannot tell.
int32_t SerialInputCount(PortHandle port);

// Reads up to `count` bytes into `destination` in arrival order. Returns the
// count read, 0 on failure.
int32_t ReadSerial(PortHandle port, void* destination, int32_t count);

// Gives the line back the settings (Windows: the DCB and time-outs) it had
// before OpenSerialDevice, clears the exclusive flag only where the open set
// it, and closes the device so that the next opener can have it.
void CloseSerial(PortHandle port);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_SERIAL_H_
