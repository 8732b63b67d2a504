#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/platform/serial_win32.h"
#include "runtime/platform/system_inspection.h"

namespace runtime::platform {
namespace {

// The number of "COMn", for sorting; names of another form go last.
long PortNumber(const std::string& name) {
  if (name.size() < 4 || _strnicmp(name.c_str(), "COM", 3) != 0) return 1L << 30;
  return std::strtol(name.c_str() + 3, nullptr, 10);
}

void SortByPortNumber(std::vector<SerialPortEntry>* ports) {
  std::stable_sort(ports->begin(), ports->end(),
                   [](const SerialPortEntry& a, const SerialPortEntry& b) {
                     return PortNumber(a.name) < PortNumber(b.name);
                   });
}

}  // namespace

std::vector<SerialPortEntry> ListRegisteredSerialPorts() {
  std::vector<SerialPortEntry> ports;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    // Each value: the driver's device name, and the port name as its data.
    char device[256];
    DWORD deviceLength = sizeof(device);
    BYTE data[256];
    DWORD dataLength = sizeof(data) - 1;
    DWORD type = 0;
    const LONG result =
        RegEnumValueA(key, index, device, &deviceLength, nullptr, &type, data, &dataLength);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataLength] = '\0';
    const std::string name(reinterpret_cast<const char*>(data));
    if (!name.empty()) ports.push_back({name, std::string("listed by Windows as ") + device});
  }
  RegCloseKey(key);
  SortByPortNumber(&ports);
  return ports;
}

std::vector<SerialPortEntry> ListSerialPortsByName() {
  std::vector<SerialPortEntry> ports;
  for (int number = 1; number <= 256; ++number) {
    const std::string name = "COM" + std::to_string(number);
    char target[1024];
    if (QueryDosDeviceA(name.c_str(), target, sizeof(target)) != 0) {
      ports.push_back({name, std::string("answers to its name, device ") + target});
    }
  }
  return ports;
}

std::vector<SerialPortEntry> ListSerialPorts() {
  std::vector<SerialPortEntry> ports = ListRegisteredSerialPorts();
  return ports.empty() ? ListSerialPortsByName() : ports;
}

std::string DevicePathOfPort(const char* name) {
  char path[64];
  // A name that is no device name is shown as it is: it is opened nowhere.
  return MakeDevicePath(name, path) ? std::string(path) : std::string(name);
}

bool DescribeDeviceAccess(const std::string&, DeviceAccess*) { return false; }

std::vector<DeviceHolder> FindDeviceHolders(const std::string&) { return {}; }

std::string SystemErrorText(int32_t code) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, text, sizeof(text), nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return "error " + std::to_string(code);
  return std::string(text, length);
}

AppendAccess ProbeAppend(const char* path, int32_t* systemCode) {
  if (systemCode != nullptr) *systemCode = 0;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return AppendAccess::kMissing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return AppendAccess::kDirectory;
  // The access and sharing of the event log's own open.
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (systemCode != nullptr) *systemCode = static_cast<int32_t>(GetLastError());
    return AppendAccess::kRefused;
  }
  CloseHandle(file);
  return AppendAccess::kAllowed;
}

CreateAccess ProbeCreateIn(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return CreateAccess::kRefused;
  }
  return CreateAccess::kUnknown;
}

std::string CurrentDirectory() {
  char path[MAX_PATH + 1];
  const DWORD length = GetCurrentDirectoryA(sizeof(path), path);
  return length > 0 && length < sizeof(path) ? std::string(path, length) : std::string();
}

}  // namespace runtime::platform
