#ifndef WEIGH_RUNTIME_PLATFORM_POSIX_FD_H_
#define WEIGH_RUNTIME_PLATFORM_POSIX_FD_H_

// Shared by the POSIX backends only.

#include <fcntl.h>
#include <unistd.h>

namespace runtime::platform {

// Handles of open objects are never 0, but a process started with its
// standard input closed can be given descriptor 0. Moves such a descriptor
// elsewhere (close-on-exec) and returns the descriptor to use, or -1.
inline int AvoidDescriptorZero(int fd) {
  if (fd != 0) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_POSIX_FD_H_
