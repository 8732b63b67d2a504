#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/platform/system_inspection.h"
#include "runtime/platform/wide_text_win32.h"

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

std::string DevicePathOfPort(const char* name) { return std::string("\\\\.\\") + name; }

bool DescribeDeviceAccess(const std::string&, DeviceAccess*) { return false; }

std::vector<DeviceHolder> FindDeviceHolders(const std::string&) { return {}; }

std::string SystemErrorText(int32_t code) {
  // Wide, and so UTF-8 like the paths around it in a report: the ANSI text
  // of a Romanian Windows is code page 1250.
  wchar_t text[512];
  DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, text, sizeof(text) / sizeof(text[0]), nullptr);
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                        text[length - 1] == L' ' || text[length - 1] == L'.')) {
    --length;
  }
  if (length == 0) return "error " + std::to_string(code);
  return Utf8FromWide(text, static_cast<int>(length));
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
  // Wide: the ANSI code page may lack letters of the folder's name.
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return std::string();
  std::wstring path(size, L'\0');
  const DWORD length = GetCurrentDirectoryW(size, path.data());
  return length > 0 && length < size ? Utf8FromWide(path.data(), static_cast<int>(length))
                                     : std::string();
}

}  // namespace runtime::platform
