#ifndef WEIGH_RUNTIME_PLATFORM_TESTING_FLUSH_WATCH_H_
#define WEIGH_RUNTIME_PLATFORM_TESTING_FLUSH_WATCH_H_

#include <cstdint>
#include <string>
#include <vector>

namespace runtime::platform {

// One flush of a file or a directory to the disk, as the watch saw it when
// it was asked for.
struct SeenFlush {
  bool directory = false;
  // A file's size at that moment.
  int64_t size = -1;
  // Its name (the last component of its path) where the platform can tell
  // it from the handle; empty otherwise.
  std::string name;
  // A directory's entries at that moment, sorted, each followed by a space
  // ("." and ".." left out), where the platform can list them.
  std::string entries;
};

// For tests: while it lives, every flush to the disk that the platform
// layer asks the system for (the fsync of a file or directory on POSIX,
// FlushFileBuffers on Windows) is seen and recorded, and with `fail` it
// fails as on a failing disk instead of reaching the system. The shipped
// programs never link it: it takes the system's flush call over from
// outside the platform layer. One at a time.
class FlushWatch {
 public:
  explicit FlushWatch(bool fail);
  ~FlushWatch();
  FlushWatch(const FlushWatch&) = delete;
  FlushWatch& operator=(const FlushWatch&) = delete;

  // True when flushes are being watched.
  bool ok() const { return ok_; }

  // The flushes seen so far, in order.
  std::vector<SeenFlush> seen() const;

 private:
  bool ok_ = false;
};

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_TESTING_FLUSH_WATCH_H_
