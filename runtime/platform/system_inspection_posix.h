#ifndef WEIGH_RUNTIME_PLATFORM_SYSTEM_INSPECTION_POSIX_H_
#define WEIGH_RUNTIME_PLATFORM_SYSTEM_INSPECTION_POSIX_H_

// Pieces of the POSIX diagnosis backend that are worth testing on their own.

#include <string>
#include <vector>

#include "runtime/platform/system_inspection.h"

namespace runtime::platform {

// ListSerialPorts over a device tree at `dev` (normally "/dev") and the
// kernel's tty classes at `sysClassTty` (normally "/sys/class/tty").
std::vector<SerialPortEntry> ListSerialPortsUnder(const std::string& dev,
                                                  const std::string& sysClassTty);

// FindDeviceHolders over the process tree at `proc` (normally "/proc").
std::vector<DeviceHolder> FindDeviceHoldersUnder(const std::string& proc, const std::string& path);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_SYSTEM_INSPECTION_POSIX_H_
