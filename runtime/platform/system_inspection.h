#ifndef WEIGH_RUNTIME_PLATFORM_SYSTEM_INSPECTION_H_
#define WEIGH_RUNTIME_PLATFORM_SYSTEM_INSPECTION_H_

// What the operating system can tell about serial ports and files when a
// person asks why a weighing got no weight. Nothing here changes a file or
// talks to a device.

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/platform/file.h"

namespace runtime::platform {

// A serial port that is present, with what is known about it.
struct SerialPortEntry {
  // The name to put in the configuration file (COM3, /dev/ttyUSB0...).
  std::string name;
  // Where it was found and what it leads to, in a few words.
  std::string detail;
};

// The serial ports present. POSIX: the /dev/serial/by-id links with their
// targets, then /dev/ttyUSB*, /dev/ttyACM* and the /dev/ttyS* whose driver
// reports a UART behind them. Windows: the ports listed under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM; when that lists none, the names COM1
// to COM256 that the system answers to.
std::vector<SerialPortEntry> ListSerialPorts();

// Windows: the ports listed under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM only.
// POSIX: none.
std::vector<SerialPortEntry> ListRegisteredSerialPorts();

// Windows: the names COM1 to COM256 that the system answers to only. POSIX:
// none.
std::vector<SerialPortEntry> ListSerialPortsByName();

// The device that a weighing opens for the port name `name`.
std::string DevicePathOfPort(const char* name);

// Who may open a device, and whether this user may.
struct DeviceAccess {
  std::string owner;  // user name, or the number when it has no name
  std::string group;  // group name, or the number
  uint32_t mode = 0;  // permission bits
  std::string user;   // the user this program runs as
  // This process has the device's group among its groups.
  bool inGroup = false;
  // The user is listed as a member of the group, so that a new login gets it.
  bool listedInGroup = false;
};

// Fills `access` for the device (or folder) at `path`. Returns false when the platform
// does not keep owners and groups of devices (Windows) or `path` cannot be
// examined.
bool DescribeDeviceAccess(const std::string& path, DeviceAccess* access);

// A process that has a device open.
struct DeviceHolder {
  uint32_t processId = 0;
  std::string program;
};

// The processes that have the device at `path` open, as far as this user
// may see them (POSIX: through /proc/*/fd). Windows: none, the system does
// not tell.
std::vector<DeviceHolder> FindDeviceHolders(const std::string& path);

// The system's own words for the error `code` (errno on POSIX,
// GetLastError() on Windows, there in UTF-8), without a line end.
std::string SystemErrorText(int32_t code);

// Whether a file could be created in a folder.
enum class CreateAccess { kAllowed, kRefused, kUnknown };

// Tells, without creating anything, whether this process may create files
// in the held `folder` itself, whatever its name now leads to. Windows
// cannot tell without trying: kUnknown there unless the folder is
// read-only or no longer a folder.
CreateAccess ProbeCreateInFolder(FolderHandle folder);

// Who owns a name in the file system, seen at the name itself: a symbolic
// link there is not followed.
struct PathOwner {
  // The owner's user name; its number when it has none. Windows: the
  // account as DOMAIN\name, or its SID when the account has no name.
  std::string name;
  // The owner is neither the user this process runs as nor root (Windows:
  // nor the Administrators group nor the system account).
  bool otherUser = false;
  // How many names (hard links) a file has; 0 when the system cannot tell.
  uint32_t links = 0;
  // The permission bits (the sticky bit is 01000); 0 on Windows.
  uint32_t mode = 0;
  bool isDirectory = false;
};

// Fills `owner` for the entry `name` of the held `folder`, a link there not
// followed; `name` "." is the held folder itself. Returns false when nothing
// has that name or the system cannot tell who owns it (Windows under a
// system that keeps no owners, such as a FAT volume).
bool QueryEntryOwnerIn(FolderHandle folder, const char* name, PathOwner* owner);

// Who may add files to the folder that holds this program's file.
enum class ProgramFolderWriters {
  kAdministrators,  // only administrators and the accounts named in it
  kOrdinaryUsers,   // Users, Authenticated Users, Everyone or Interactive may
  kCannotTell,      // the system gave no answer that can be read
  kNotAsked,        // POSIX: not examined (programs live in system folders)
};

// Windows: reads the access list of the folder holding this program (its
// own entries, not those only inherited by what is made in it) and tells
// whether one of the groups every signed-in user belongs to may add files
// there, so that a program or DLL can be planted beside it.
ProgramFolderWriters QueryProgramFolderWriters();

// The current directory, in the platform's own form (on Windows in UTF-8,
// from the wide call); empty when unknown.
std::string CurrentDirectory();

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_SYSTEM_INSPECTION_H_
