#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/platform/held_folder_win32.h"
#include "runtime/platform/owner_rule_win32.h"
#include "runtime/platform/serial_win32.h"
#include "runtime/platform/system_inspection.h"
#include "runtime/platform/system_library_win32.h"
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

// The security descriptor parts `what` of the file or folder `path`
// (GetFileSecurityW, so that any name can be examined); empty when the
// system gives none.
std::vector<BYTE> FileSecurity(const std::wstring& path, SECURITY_INFORMATION what) {
  std::vector<BYTE> descriptor(512);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD needed = 0;
    if (SYSTEM_CALL(GetFileSecurityW, FALSE, path.c_str(), what, descriptor.data(),
                    static_cast<DWORD>(descriptor.size()), &needed)) {
      return descriptor;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size()) break;
    descriptor.resize(needed);
  }
  return {};
}

std::wstring WidePath(const char* path) {
  const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// The account `sid` as DOMAIN\name, or its SID text when it has no name.
std::string AccountName(PSID sid) {
  char name[256];
  char domain[256];
  DWORD nameLength = sizeof(name);
  DWORD domainLength = sizeof(domain);
  SID_NAME_USE use;
  if (SYSTEM_CALL(LookupAccountSidA, FALSE, static_cast<LPCSTR>(nullptr), sid, name, &nameLength,
                  domain, &domainLength, &use)) {
    return domainLength > 0 ? std::string(domain) + "\\" + name : std::string(name);
  }
  char* text = nullptr;
  if (!SYSTEM_CALL(ConvertSidToStringSidA, FALSE, sid, &text)) return "an account without a name";
  std::string result(text);
  LocalFree(text);
  return result;
}

// The groups that every signed-in user is a member of.
bool IsEveryUsersGroup(PSID sid) {
  for (WELL_KNOWN_SID_TYPE group :
       {WinBuiltinUsersSid, WinAuthenticatedUserSid, WinWorldSid, WinInteractiveSid}) {
    if (SYSTEM_CALL(IsWellKnownSid, FALSE, sid, group)) return true;
  }
  return false;
}

}  // namespace

bool QueryEntryOwnerIn(FolderHandle folder, const char* name, PathOwner* owner) {
  *owner = PathOwner();
  const std::string held = HeldFolderPath(folder, name);
  const char* path = held.c_str();
  std::vector<BYTE> descriptor = FileSecurity(WidePath(path), OWNER_SECURITY_INFORMATION);
  PSID sid = nullptr;
  BOOL defaulted = FALSE;
  if (descriptor.empty() ||
      !SYSTEM_CALL(GetSecurityDescriptorOwner, FALSE, descriptor.data(), &sid, &defaulted) ||
      sid == nullptr) {
    return false;
  }
  owner->name = AccountName(sid);
  owner->otherUser = !IsTrustedOwner(ClassifyOwner(sid));
  const DWORD attributes = GetFileAttributesA(path);
  owner->isDirectory =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // The names of the file itself, not of what a link there leads to; an
  // open for attributes only disturbs no other program's use of it.
  HANDLE file = CreateFileA(
      path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information)) owner->links = information.nNumberOfLinks;
    CloseHandle(file);
  }
  return true;
}

ProgramFolderWriters QueryProgramFolderWriters() {
  std::vector<wchar_t> name(32768);
  const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
  if (length == 0 || length >= name.size()) return ProgramFolderWriters::kCannotTell;
  std::wstring folder(name.data(), length);
  const size_t slash = folder.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return ProgramFolderWriters::kCannotTell;
  folder.resize(slash + 1);
  std::vector<BYTE> descriptor = FileSecurity(folder, DACL_SECURITY_INFORMATION);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  if (descriptor.empty() || !SYSTEM_CALL(GetSecurityDescriptorDacl, FALSE, descriptor.data(),
                                         &present, &list, &defaulted)) {
    return ProgramFolderWriters::kCannotTell;
  }
  // No access list at all lets everybody do everything.
  if (!present || list == nullptr) return ProgramFolderWriters::kOrdinaryUsers;
  constexpr ACCESS_MASK kAddFile = FILE_ADD_FILE | GENERIC_WRITE | GENERIC_ALL;
  for (DWORD index = 0; index < list->AceCount; ++index) {
    void* entry = nullptr;
    if (!SYSTEM_CALL(GetAce, FALSE, list, index, &entry)) return ProgramFolderWriters::kCannotTell;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) {
      continue;
    }
    // Allowed and denied entries share their layout.
    const ACCESS_ALLOWED_ACE* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = const_cast<DWORD*>(&ace->SidStart);
    if ((ace->Mask & kAddFile) == 0 || !IsEveryUsersGroup(sid)) continue;
    // Entries are in the order the system checks them: a denial seen
    // first holds for every user in the group.
    return header->AceType == ACCESS_ALLOWED_ACE_TYPE ? ProgramFolderWriters::kOrdinaryUsers
                                                      : ProgramFolderWriters::kAdministrators;
  }
  return ProgramFolderWriters::kAdministrators;
}

std::vector<SerialPortEntry> ListRegisteredSerialPorts() {
  std::vector<SerialPortEntry> ports;
  HKEY key;
  if (SYSTEM_CALL(RegOpenKeyExA, static_cast<LONG>(ERROR_PROC_NOT_FOUND), HKEY_LOCAL_MACHINE,
                  "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0ul, static_cast<REGSAM>(KEY_READ),
                  &key) != ERROR_SUCCESS) {
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
        SYSTEM_CALL(RegEnumValueA, static_cast<LONG>(ERROR_PROC_NOT_FOUND), key, index, device,
                    &deviceLength, static_cast<DWORD*>(nullptr), &type, data, &dataLength);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataLength] = '\0';
    const std::string name(reinterpret_cast<const char*>(data));
    if (!name.empty()) ports.push_back({name, std::string("listed by Windows as ") + device});
  }
  SYSTEM_CALL(RegCloseKey, static_cast<LONG>(ERROR_PROC_NOT_FOUND), key);
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

CreateAccess ProbeCreateInFolder(FolderHandle folder) {
  const std::string held = HeldFolderPath(folder, ".");
  const char* path = held.c_str();
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
