// The watch defines fsync itself: a test program that links it calls this
// definition wherever it calls fsync, the platform layer included, and
// this one hands the call on to the C library's unless a failure is asked
// for.
#include "runtime/platform/testing/flush_watch.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace runtime::platform {
namespace {

std::mutex watch_lock;
bool watching = false;
bool failing = false;
std::vector<SeenFlush>* seen_flushes = nullptr;

using FsyncFunction = int (*)(int);

FsyncFunction SystemFsync() {
  static FsyncFunction system = reinterpret_cast<FsyncFunction>(dlsym(RTLD_NEXT, "fsync"));
  return system;
}

std::string NameOf(int fd) {
  char link[64];
  char target[PATH_MAX];
  snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, target, sizeof(target) - 1);
  if (length <= 0) return "";
  const std::string path(target, static_cast<std::size_t>(length));
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string EntriesOf(int fd) {
  const int copy = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return "";
  DIR* directory = fdopendir(copy);
  if (directory == nullptr) {
    close(copy);
    return "";
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(directory);
  std::sort(names.begin(), names.end());
  std::string entries;
  for (const std::string& name : names) entries += name + " ";
  return entries;
}

}  // namespace

FlushWatch::FlushWatch(bool fail) {
  std::lock_guard<std::mutex> hold(watch_lock);
  if (watching || SystemFsync() == nullptr) return;
  watching = true;
  failing = fail;
  seen_flushes = new std::vector<SeenFlush>();
  ok_ = true;
}

FlushWatch::~FlushWatch() {
  if (!ok_) return;
  std::lock_guard<std::mutex> hold(watch_lock);
  watching = false;
  failing = false;
  delete seen_flushes;
  seen_flushes = nullptr;
}

std::vector<SeenFlush> FlushWatch::seen() const {
  std::lock_guard<std::mutex> hold(watch_lock);
  return seen_flushes != nullptr ? *seen_flushes : std::vector<SeenFlush>();
}

}  // namespace runtime::platform

extern "C" int fsync(int fd) {
  using namespace runtime::platform;
  {
    std::lock_guard<std::mutex> hold(watch_lock);
    if (watching) {
      SeenFlush flush;
      struct stat info;
      if (fstat(fd, &info) == 0) {
        flush.directory = S_ISDIR(info.st_mode);
        flush.size = flush.directory ? -1 : static_cast<int64_t>(info.st_size);
      }
      flush.name = NameOf(fd);
      if (flush.directory) flush.entries = EntriesOf(fd);
      seen_flushes->push_back(flush);
      if (failing) {
        errno = EIO;
        return -1;
      }
    }
  }
  const FsyncFunction system = SystemFsync();
  if (system == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return system(fd);
}
