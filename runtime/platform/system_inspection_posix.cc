#include "runtime/platform/system_inspection_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "runtime/platform/file.h"
#include "runtime/platform/owner_posix.h"
#include "runtime/platform/serial_posix.h"

namespace runtime::platform {
namespace {

// The descriptor that names in `folder` are looked up from.
int FolderDescriptor(FolderHandle folder) {
  return folder == 0 ? AT_FDCWD : static_cast<int>(folder);
}

// The names in directory `path`, sorted; none when it cannot be read.
std::vector<std::string> DirectoryNames(const std::string& path) {
  std::vector<std::string> names;
  DIR* directory = opendir(path.c_str());
  if (directory == nullptr) return names;
  while (const dirent* entry = readdir(directory)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(entry->d_name);
    }
  }
  closedir(directory);
  // ttyS2 before ttyS10: shorter names first, then by bytes.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

// The first line of a small file; empty when it cannot be read.
std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The target of the symbolic link `path`; empty when it is none.
std::string LinkTarget(const std::string& path) {
  char target[4096];
  const ssize_t length = readlink(path.c_str(), target, sizeof(target) - 1);
  if (length <= 0) return std::string();
  return std::string(target, static_cast<size_t>(length));
}

// The name of the driver behind tty `name`, from the kernel's tty class.
std::string DriverOf(const std::string& sysClassTty, const std::string& name) {
  const std::string target = LinkTarget(sysClassTty + "/" + name + "/device/driver");
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The name of user `uid`, or its number when the user database has none.
std::string UserName(uid_t uid) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  for (;;) {
    passwd entry;
    passwd* found = nullptr;
    const int error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    return found != nullptr ? std::string(found->pw_name) : std::to_string(uid);
  }
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPortsUnder(const std::string& dev,
                                                  const std::string& sysClassTty) {
  std::vector<SerialPortEntry> ports;
  // By-id names stay the same when an adapter is plugged in elsewhere.
  const std::string by_id = dev + "/serial/by-id";
  for (const std::string& name : DirectoryNames(by_id)) {
    std::string target = LinkTarget(by_id + "/" + name);
    const size_t slash = target.rfind('/');
    if (slash != std::string::npos) target = dev + "/" + target.substr(slash + 1);
    ports.push_back({by_id + "/" + name, "stable name of " + target});
  }
  for (const std::string& name : DirectoryNames(dev)) {
    std::string detail;
    if (StartsWith(name, "ttyUSB")) {
      detail = "USB serial adapter";
    } else if (StartsWith(name, "ttyACM")) {
      detail = "USB modem-class device";
    } else if (StartsWith(name, "ttyS")) {
      // The kernel makes ttyS nodes whether or not a UART is there; its
      // driver says type 0 (unknown) for the empty ones.
      const std::string type = FirstLine(sysClassTty + "/" + name + "/type");
      if (type.empty() || type == "0") continue;
      detail = "on-board serial port, UART type " + type;
    } else {
      continue;
    }
    const std::string driver = DriverOf(sysClassTty, name);
    if (!driver.empty()) detail += ", driver " + driver;
    ports.push_back({dev + "/" + name, detail});
  }
  return ports;
}

std::vector<SerialPortEntry> ListSerialPorts() {
  return ListSerialPortsUnder("/dev", "/sys/class/tty");
}

std::vector<SerialPortEntry> ListRegisteredSerialPorts() { return {}; }

std::vector<SerialPortEntry> ListSerialPortsByName() { return {}; }

std::string DevicePathOfPort(const char* name) { return SerialDevicePath(name); }

bool DescribeDeviceAccess(const std::string& path, DeviceAccess* access) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return false;
  *access = DeviceAccess();
  access->mode = status.st_mode & 07777;
  const passwd* owner = getpwuid(status.st_uid);
  access->owner = owner != nullptr ? owner->pw_name : std::to_string(status.st_uid);
  const passwd* self = getpwuid(geteuid());
  access->user = self != nullptr ? self->pw_name : std::to_string(geteuid());
  const group* device_group = getgrgid(status.st_gid);
  access->group = device_group != nullptr ? device_group->gr_name : std::to_string(status.st_gid);
  if (device_group != nullptr && self != nullptr) {
    for (char** member = device_group->gr_mem; *member != nullptr; ++member) {
      if (std::strcmp(*member, self->pw_name) == 0) access->listedInGroup = true;
    }
    if (self->pw_gid == status.st_gid) access->listedInGroup = true;
  }
  access->inGroup = getegid() == status.st_gid;
  gid_t groups[256];
  const int count = getgroups(256, groups);
  for (int i = 0; i < count; ++i) {
    if (groups[i] == status.st_gid) access->inGroup = true;
  }
  return true;
}

std::vector<DeviceHolder> FindDeviceHoldersUnder(const std::string& proc, const std::string& path) {
  std::vector<DeviceHolder> holders;
  char resolved[PATH_MAX];
  const std::string device = realpath(path.c_str(), resolved) != nullptr ? resolved : path;
  for (const std::string& entry : DirectoryNames(proc)) {
    if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string fds = proc + "/" + entry + "/fd";
    for (const std::string& fd : DirectoryNames(fds)) {
      if (LinkTarget(fds + "/" + fd) != device) continue;
      holders.push_back(
          {static_cast<uint32_t>(std::stoul(entry)), FirstLine(proc + "/" + entry + "/comm")});
      break;
    }
  }
  return holders;
}

std::vector<DeviceHolder> FindDeviceHolders(const std::string& path) {
  return FindDeviceHoldersUnder("/proc", path);
}

std::string SystemErrorText(int32_t code) { return std::strerror(code); }

CreateAccess ProbeCreateInFolder(FolderHandle folder) {
  return faccessat(FolderDescriptor(folder), ".", W_OK | X_OK, 0) == 0 ? CreateAccess::kAllowed
                                                                       : CreateAccess::kRefused;
}

bool QueryEntryOwnerIn(FolderHandle folder, const char* name, PathOwner* owner) {
  *owner = PathOwner();
  struct stat info;
  if (fstatat(FolderDescriptor(folder), name, &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  owner->name = UserName(info.st_uid);
  owner->otherUser = !IsTrustedOwner(info.st_uid);
  owner->links = static_cast<uint32_t>(info.st_nlink);
  owner->mode = info.st_mode & 07777;
  owner->isDirectory = S_ISDIR(info.st_mode);
  return true;
}

ProgramFolderWriters QueryProgramFolderWriters() { return ProgramFolderWriters::kNotAsked; }

std::string CurrentDirectory() {
  char path[PATH_MAX];
  return getcwd(path, sizeof(path)) != nullptr ? path : std::string();
}

}  // namespace runtime::platform
