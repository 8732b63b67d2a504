#ifndef WEIGH_RUNTIME_PLATFORM_DEVICE_END_H_
#define WEIGH_RUNTIME_PLATFORM_DEVICE_END_H_

// The device's end of a serial line, for a program that plays the device
// (the simulated scale): raw, 9600 baud, 8 data bits, no parity, one stop
// bit, no flow control, and reads that never wait.

#include <cstdint>
#include <string>

namespace runtime::platform {

// An open device end; 0 means none.
using DeviceEnd = std::intptr_t;

// Opens the serial device `name`: a path such as /dev/pts/3 natively, a port
// such as COM6 on Windows (one end of a virtual null-modem pair), set raw at
// 9600 baud with whatever waited on it dropped. Returns 0,
// with the reason in `why_not`, when it cannot be opened.
DeviceEnd OpenDeviceEnd(const std::string& name, std::string* why_not);

// Makes a new pseudo-terminal and returns its controlling end; `path` gets
// the path of the other end, the one to give the station program, which
// is kept open here so that the line stays up while the program opens and
// closes it. Returns 0, with the reason in `why_not`, where there are no
// pseudo-terminals (Windows).
DeviceEnd OpenNewTerminal(std::string* path, std::string* why_not);

// Waits up to `milliseconds` for received bytes. Returns 1 when some are
// waiting, 0 when none came in time, -1 when the line hung up.
int WaitForInput(DeviceEnd end, int32_t milliseconds);

// Takes up to `count` received bytes without waiting. Returns the count
// taken, 0 when none were waiting, -1 when the line hung up.
int32_t ReadDeviceEnd(DeviceEnd end, void* destination, int32_t count);

// Sends `count` bytes without waiting for a reader. Returns how many went
// out: fewer when the line is full or gone, as with a real device.
int32_t WriteDeviceEnd(DeviceEnd end, const void* bytes, int32_t count);

// Waits, 5 s at most, until what was sent has left this end and, for a
// pseudo-terminal of our own, has been read by the other side.
void DrainDeviceEnd(DeviceEnd end);

// Closes the line (both ends of our own pseudo-terminal).
void CloseDeviceEnd(DeviceEnd end);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_DEVICE_END_H_
