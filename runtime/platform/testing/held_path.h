#ifndef WEIGH_RUNTIME_PLATFORM_TESTING_HELD_PATH_H_
#define WEIGH_RUNTIME_PLATFORM_TESTING_HELD_PATH_H_

#include <cstdint>

#include "runtime/platform/file.h"

namespace runtime::platform {

// For tests and test tools: opens "name" or "folder\name" relative to the
// current folder the way the program reaches its files: the current folder
// is held, then the folder of the path (one component, links as `links`
// allows), and the last component is opened in it with OpenFileIn. The
// folders are let go again; the handle stays. Returns 0 where a folder
// cannot be held or the open fails.
FileHandle OpenHeldPath(const char* path, uint32_t access, uint32_t share,
                        FileDisposition disposition, LinkRule links = LinkRule::kAny,
                        bool one_name = false);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_TESTING_HELD_PATH_H_
