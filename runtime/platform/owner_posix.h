#ifndef WEIGH_RUNTIME_PLATFORM_OWNER_POSIX_H_
#define WEIGH_RUNTIME_PLATFORM_OWNER_POSIX_H_

// The one owner rule of the POSIX backends.

#include <sys/types.h>
#include <unistd.h>

namespace runtime::platform {

// True when what `owner` owns may be trusted by this process: the user it
// runs as, or root. Anything another user owns (a link, a folder) may lead
// wherever that user wants, and may be swapped while this process looks.
inline bool IsTrustedOwner(uid_t owner) { return owner == geteuid() || owner == 0; }

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_OWNER_POSIX_H_
