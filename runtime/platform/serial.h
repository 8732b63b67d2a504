#ifndef WEIGH_RUNTIME_PLATFORM_SERIAL_H_
#define WEIGH_RUNTIME_PLATFORM_SERIAL_H_

#include <cstdint>

namespace runtime::platform {

// An open serial device; 0 means none. Never 0 for an open device.
using PortHandle = std::intptr_t;

// Line settings as the port table receives them.
struct PortSettings {
  int32_t baud;
  uint8_t parity;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
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
  kInUse,            // another program, or this one, has the device open
  kAccessDenied,     // this user may not open the device
  kSettingsRefused,  // it opened, but is no serial line or refused the settings
  kNotAPort,         // the name leads to something that is no port: nothing was
                     // read, written or set there, and trying again cannot help
  kOther,            // any other reason
};

// What a name refused with PortFailure::kNotAPort leads to.
enum class NotAPort {
  kFile,    // an ordinary file
  kPipe,    // a pipe or socket
  kPath,    // a path: a folder, a share, anything outside the devices
  kDevice,  // a device that is no serial line
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
// A port is a device and never a path, since whoever can write the
// configuration could otherwise point the program at files, shares and
// pipes. Windows: the name is a device name ("COM3", "CNCA0", optionally
// after "\\.\") without a further backslash, slash or colon, and the handle must be a
// character device. POSIX: the name must lead to a character device under
// /dev that is a terminal, without a ".." on the way; it is examined through
// an open that cannot touch the device, before anything is read, written or
// set. Anything else is PortFailure::kNotAPort. The line's own settings are
// saved and given back by CloseSerial (POSIX).
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

// Gives the line back the settings it had before OpenSerialDevice (POSIX)
// and closes the device so that the next opener can have it.
void CloseSerial(PortHandle port);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_SERIAL_H_
