#include "runtime/platform/device_end.h"

#include <windows.h>

#include <string>

#include "runtime/platform/clock.h"

namespace runtime::platform {
namespace {

HANDLE HandleOf(DeviceEnd end) { return reinterpret_cast<HANDLE>(end); }

std::string Reason(const std::string& what) {
  return what + ": error " + std::to_string(GetLastError());
}

}  // namespace

DeviceEnd OpenDeviceEnd(const std::string& name, std::string* why_not) {
  // COM10 and above open only through the device namespace.
  const std::string path = name.rfind("\\\\", 0) == 0 ? name : "\\\\.\\" + name;
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    *why_not = Reason("cannot open " + name);
    return 0;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  GetCommState(port, &dcb);
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (!SetCommState(port, &dcb)) {
    *why_not = Reason("cannot set up " + name);
    CloseHandle(port);
    return 0;
  }
  // Reads return at once with what is there; a write that finds no room
  // gives up after a second, as bytes sent to nobody are lost anyway.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = 1000;
  SetCommTimeouts(port, &timeouts);
  // A scale just switched on has not heard what was sent before it.
  PurgeComm(port, PURGE_RXCLEAR);
  return reinterpret_cast<DeviceEnd>(port);
}

DeviceEnd OpenNewTerminal(std::string* /*path*/, std::string* why_not) {
  *why_not = "Windows has no pseudo-terminals: give --device with one end of a null-modem pair";
  return 0;
}

int WaitForInput(DeviceEnd end, int32_t milliseconds) {
  // Serial handles cannot be waited on without overlapped I/O; the queue is
  // looked at every millisecond instead, which costs next to nothing.
  const int64_t deadline = MonotonicMilliseconds() + milliseconds;
  while (true) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(HandleOf(end), &errors, &status)) return -1;
    if (status.cbInQue > 0) return 1;
    if (MonotonicMilliseconds() >= deadline) return 0;
    SleepMilliseconds(1);
  }
}

int32_t ReadDeviceEnd(DeviceEnd end, void* destination, int32_t count) {
  DWORD read = 0;
  if (!ReadFile(HandleOf(end), destination, static_cast<DWORD>(count), &read, nullptr)) return -1;
  return static_cast<int32_t>(read);
}

int32_t WriteDeviceEnd(DeviceEnd end, const void* bytes, int32_t count) {
  DWORD written = 0;
  WriteFile(HandleOf(end), bytes, static_cast<DWORD>(count), &written, nullptr);
  return static_cast<int32_t>(written);
}

void DrainDeviceEnd(DeviceEnd end) {
  // Waits until the driver has sent the output queue.
  FlushFileBuffers(HandleOf(end));
}

void CloseDeviceEnd(DeviceEnd end) { CloseHandle(HandleOf(end)); }

}  // namespace runtime::platform
