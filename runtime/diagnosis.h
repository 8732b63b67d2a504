#ifndef WEIGH_RUNTIME_DIAGNOSIS_H_
#define WEIGH_RUNTIME_DIAGNOSIS_H_

// What the system can tell about ports and files when a person asks why no
// weight came, and the way a report reaches that person. Nothing here
// changes a file or talks to a device.

#include <string>

#include "runtime/platform/file_digest.h"
#include "runtime/platform/planted_files.h"
#include "runtime/platform/system_inspection.h"

namespace runtime {

using platform::CreateAccess;
using platform::DeviceAccess;
using platform::DeviceHolder;
using platform::FileDigest;
using platform::PathOwner;
using platform::PlantedFile;
using platform::ProgramFolderWriters;
using platform::SerialPortEntry;

using platform::CurrentDirectory;
using platform::DescribeDeviceAccess;
using platform::DescribeLinkOwner;
using platform::DevicePathOfPort;
using platform::FindDeviceHolders;
using platform::FindPlantableFiles;
using platform::ListRegisteredSerialPorts;
using platform::ListSerialPorts;
using platform::ListSerialPortsByName;
using platform::ProbeCreateInFolder;
using platform::QueryEntryOwnerIn;
using platform::QueryProgramFolderWriters;
using platform::Sha256OfProgramFile;
using platform::SystemErrorText;

// Shows `report` (UTF-8) to the person who started the program: on its
// standard output or the console it was started from when there is one,
// otherwise in a message box titled "weigh" that shows every letter, as
// ReportForMessageBox gives it.
void ShowReport(const std::string& report);

// `report` as the "weigh" box shows it: each "SHA-256: " line's 64 digits
// in eight groups of eight, so that the box can wrap the line between
// groups instead of cutting a digit off; everything else unchanged.
std::string ReportForMessageBox(const std::string& report);

}  // namespace runtime

#endif  // WEIGH_RUNTIME_DIAGNOSIS_H_
