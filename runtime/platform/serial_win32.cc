#include "runtime/platform/serial_win32.h"

#include <cstring>
#include <initializer_list>

namespace runtime::platform {

bool MakeDevicePath(const char* name, char (&path)[64]) {
  path[0] = '\0';
  if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
  // Everything after "\\.\" is one name in the system's device folder; a
  // separator would lead on to files, shares ("UNC\host\...") and pipes.
  bool named = false;
  for (const char* next = name; *next != '\0'; ++next) {
    if (*next == '\\' || *next == '/' || *next == ':') return false;
    if (*next != '.' && *next != ' ') named = true;
  }
  if (!named) return false;
  std::memcpy(path, "\\\\.\\", 4);
  std::size_t length = strnlen(name, kMaxPortNameInPath);
  std::memcpy(path + 4, name, length);
  path[4 + length] = '\0';
  return true;
}

void ApplyPortSettings(const PortSettings& settings, DCB* dcb) {
  dcb->BaudRate = static_cast<DWORD>(settings.baud);
  dcb->ByteSize = settings.dataBits;
  dcb->Parity = settings.parity;
  dcb->fParity = 1;
  if (settings.stopBits == 1.0f) {
    dcb->StopBits = ONESTOPBIT;
  } else if (settings.stopBits == 2.0f) {
    dcb->StopBits = TWOSTOPBITS;
  } else {
    dcb->StopBits = ONE5STOPBITS;
  }
  switch (settings.handshake) {
    case 0:
      // No handshake at all, whatever the last program left: a port left
      // with DSR flow control or DSR sensitivity would send or take nothing
      // from a scale that does not raise DSR. DTR stays as the device had it.
      dcb->fOutxCtsFlow = 0;
      dcb->fOutxDsrFlow = 0;
      dcb->fDsrSensitivity = 0;
      dcb->fOutX = 0;
      dcb->fInX = 0;
      dcb->fRtsControl = RTS_CONTROL_DISABLE;
      // Every byte as it came: none dropped, replaced, or stopping the line.
      dcb->fBinary = 1;
      dcb->fNull = 0;
      dcb->fErrorChar = 0;
      dcb->fAbortOnError = 0;
      dcb->fTXContinueOnXoff = 1;
      break;
    case 1:
      dcb->fOutxCtsFlow = 0;
      dcb->fRtsControl = RTS_CONTROL_ENABLE;
      break;
    case 2:
      dcb->fOutxCtsFlow = 1;
      dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
      break;
    case 3:
      dcb->fOutX = 1;
      dcb->fInX = 1;
      dcb->XonChar = 0x11;
      dcb->XoffChar = 0x13;
      dcb->XonLim = static_cast<WORD>(settings.inputBufferSize / 10);
      dcb->XoffLim = static_cast<WORD>((settings.inputBufferSize / 10) * 7);
      break;
    default:
      break;
  }
}

namespace {

PortFailure FailureOfOpen(DWORD code) {
  switch (code) {
    // No device answers to the name; an empty name, or one with a control
    // byte in it, is not even valid.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return PortFailure::kNotFound;
    // Share mode 0 makes a port that another program holds answer "access
    // denied" to everyone else.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return PortFailure::kInUse;
    default:
      return PortFailure::kOther;
  }
}

// Records why the open failed and returns 0, the handle of no port.
PortHandle Refuse(PortOpenError* error, PortFailure reason, DWORD code) {
  if (error != nullptr) *error = PortOpenError{reason, static_cast<int32_t>(code)};
  return 0;
}

PortHandle RefuseNotAPort(PortOpenError* error, NotAPort what) {
  if (error != nullptr) *error = PortOpenError{PortFailure::kNotAPort, 0, what};
  return 0;
}

// Whether `name` (after any "\\.\") is one of the console's own names,
// which the system resolves without regard to case or to trailing dots and
// spaces: what somebody types there is no reply of a scale, and with no
// console at all the open fails in a way that would look worth retrying.
bool IsConsoleName(const char* name) {
  if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
  std::size_t length = std::strlen(name);
  while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) --length;
  for (const char* console : {"CON", "CONIN$", "CONOUT$"}) {
    if (length == std::strlen(console) && _strnicmp(name, console, length) == 0) return true;
  }
  return false;
}

// What a handle points to: the device and the settings and time-outs it
// had when it was opened, which it gets back when it is closed. Windows
// keeps them from one opener to the next.
struct OpenLine {
  HANDLE device;
  DCB before;
  COMMTIMEOUTS timeoutsBefore;
};

HANDLE Device(PortHandle port) { return reinterpret_cast<OpenLine*>(port)->device; }

}  // namespace

PortHandle OpenSerialDevice(const char* name, const PortSettings& settings, PortOpenError* error) {
  if (error != nullptr) *error = PortOpenError{};
  char path[64];
  // No name at all names nothing, as a missing port does.
  if (name[0] == '\0') return Refuse(error, PortFailure::kNotFound, 0);
  if (!MakeDevicePath(name, path)) return RefuseNotAPort(error, NotAPort::kPath);
  if (IsConsoleName(name)) return RefuseNotAPort(error, NotAPort::kTerminal);
  // Should the name still reach a pipe, its server learns who connected but
  // may not act as this user.
  HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return Refuse(error, FailureOfOpen(code), code);
  }
  // A device name can be made to lead to a file or a pipe (DefineDosDevice,
  // a link in Wine's dosdevices): only a character device is a port, and
  // nothing else is read, written or set.
  const DWORD type = GetFileType(device);
  if (type != FILE_TYPE_CHAR) {
    CloseHandle(device);
    return RefuseNotAPort(error, type == FILE_TYPE_DISK   ? NotAPort::kFile
                                 : type == FILE_TYPE_PIPE ? NotAPort::kPipe
                                                          : NotAPort::kPath);
  }
  // Only a serial line answers these two; NUL, CON and printers are
  // character devices too, and nothing may reach them.
  DCB before{};
  before.DCBlength = sizeof(before);
  COMMTIMEOUTS timeouts_before{};
  if (!GetCommState(device, &before) || !GetCommTimeouts(device, &timeouts_before)) {
    CloseHandle(device);
    return RefuseNotAPort(error, NotAPort::kDevice);
  }
  if (settings.inputBufferSize > 0 && settings.outputBufferSize > 0) {
    SetupComm(device, static_cast<DWORD>(settings.inputBufferSize),
              static_cast<DWORD>(settings.outputBufferSize));
  }
  DCB dcb = before;
  ApplyPortSettings(settings, &dcb);
  if (!SetCommState(device, &dcb)) {
    const DWORD code = GetLastError();
    SetCommState(device, &before);
    CloseHandle(device);
    return Refuse(error, PortFailure::kSettingsRefused, code);
  }
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 100;
  timeouts.WriteTotalTimeoutConstant = 10;
  SetCommTimeouts(device, &timeouts);
  return reinterpret_cast<PortHandle>(new OpenLine{device, before, timeouts_before});
}

void DiscardSerialInput(PortHandle port) { PurgeComm(Device(port), PURGE_RXCLEAR); }

int32_t WriteSerial(PortHandle port, const void* bytes, int32_t count) {
  DWORD written = 0;
  WriteFile(Device(port), bytes, static_cast<DWORD>(count), &written, nullptr);
  return static_cast<int32_t>(written);
}

int32_t SerialInputCount(PortHandle port) {
  DWORD errors = 0;
  COMSTAT status{};
  // When the call fails the COMSTAT is not filled in; 0 is the count that
  // lets a caller go on polling without reading.
  if (!ClearCommError(Device(port), &errors, &status)) return 0;
  return static_cast<int32_t>(status.cbInQue);
}

int32_t ReadSerial(PortHandle port, void* destination, int32_t count) {
  DWORD read = 0;
  if (!ReadFile(Device(port), destination, static_cast<DWORD>(count), &read, nullptr)) {
    return 0;
  }
  return static_cast<int32_t>(read);
}

void CloseSerial(PortHandle port) {
  OpenLine* line = reinterpret_cast<OpenLine*>(port);
  // The next program finds the port as this one found it.
  SetCommState(line->device, &line->before);
  SetCommTimeouts(line->device, &line->timeoutsBefore);
  CloseHandle(line->device);
  delete line;
}

}  // namespace runtime::platform
