#ifndef WEIGH_RUNTIME_PLATFORM_HELD_FOLDER_WIN32_H_
#define WEIGH_RUNTIME_PLATFORM_HELD_FOLDER_WIN32_H_

// Shared by the Win32 backends only: how a name in a held folder is reached.

#include <string>

#include "runtime/platform/file.h"

namespace runtime::platform {

// The path under which the entry `name` of the held `folder` is opened: the
// folder's own path and `name`, or `name` alone in the current folder. For
// `name` "." it is the held folder itself. The folder is held without
// delete sharing, so the path reaches that very folder while it is held.
std::string HeldFolderPath(FolderHandle folder, const char* name);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_HELD_FOLDER_WIN32_H_
