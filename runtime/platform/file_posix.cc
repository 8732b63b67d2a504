#include "runtime/platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "runtime/platform/clock.h"
#include "runtime/platform/posix_fd.h"

namespace runtime::platform {
namespace {

static_assert(sizeof(off_t) == 8, "the share-mode markers need 64-bit file offsets");

// The four share-mode marker regions (see file.h), far beyond any content a
// file of this system will ever have.
constexpr off_t kMarkerBase = 0x7FFFFFFF00000000;
constexpr off_t kRegionSize = off_t{1} << 24;
enum Region : int { kHasRead = 0, kHasWrite = 1, kNoShareRead = 2, kNoShareWrite = 3 };
constexpr int kRegionCount = 4;

// A marker offset taken by someone else is tried again elsewhere this often.
constexpr int kMarkerTries = 8;
// An open that meets a conflict backs off and tries again this often in all.
constexpr int kShareTries = 5;

// What Windows calls a fixed drive, and a root that does not exist.
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kDriveNoRootDir = 1;

int Descriptor(FileHandle file) { return static_cast<int>(file); }

// A folder's descriptor; 0 is the current folder.
int FolderFd(FolderHandle folder) { return folder == 0 ? AT_FDCWD : static_cast<int>(folder); }

std::string PosixPath(const char* path) {
  std::string name = path;
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return name;
}

std::minstd_rand& Random() {
  static std::minstd_rand engine = [] {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::minstd_rand(static_cast<unsigned>(now.tv_nsec) ^
                            (static_cast<unsigned>(getpid()) << 12));
  }();
  return engine;
}

off_t RandomBelow(off_t limit) { return static_cast<off_t>(Random()() % limit); }

off_t RegionStart(Region region) { return kMarkerBase + region * kRegionSize; }

// Places a 1-byte marker somewhere in `region`. A marker that cannot be
// placed (the file system has no such locks, or a foreign lock covers the
// spot) is simply left out.
void PlaceMarker(int fd, Region region, short type) {
  for (int attempt = 0; attempt < kMarkerTries; ++attempt) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = RegionStart(region) + RandomBelow(kRegionSize);
    lock.l_len = 1;
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return;
  }
}

// True when another open holds a marker in `region`. Locks that are not
// markers are stepped over: they must never make an open fail.
bool OthersMarked(int fd, Region region) {
  const off_t first = RegionStart(region);
  const off_t end = first + kRegionSize;
  off_t from = first;
  while (from < end) {
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = from;
    probe.l_len = end - from;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) return false;
    if (probe.l_len == 1 && probe.l_start >= first && probe.l_start < end) return true;
    // A foreign lock: look past it, unless it reaches beyond the region.
    if (probe.l_len <= 0 || probe.l_len >= end - probe.l_start) return false;
    const off_t after = probe.l_start + probe.l_len;
    if (after <= from) return false;
    from = after;
  }
  return false;
}

void DropMarkers(int fd) {
  struct flock lock = {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkerBase;
  lock.l_len = kRegionCount * kRegionSize;
  fcntl(fd, F_OFD_SETLK, &lock);
}

bool ConflictsWithOthers(int fd, bool read, bool write, uint32_t share) {
  return (read && OthersMarked(fd, kNoShareRead)) || (write && OthersMarked(fd, kNoShareWrite)) ||
         ((share & kFileShareRead) == 0 && OthersMarked(fd, kHasRead)) ||
         ((share & kFileShareWrite) == 0 && OthersMarked(fd, kHasWrite));
}

// Marks this open's access and share mode on the file, then checks the
// other opens' marks. Returns false when the open must be refused.
bool ClaimShareMode(int fd, bool readable_fd, bool read, bool write, uint32_t share) {
  // A write-only descriptor cannot hold read locks.
  const short type = readable_fd ? F_RDLCK : F_WRLCK;
  for (int attempt = 0; attempt < kShareTries; ++attempt) {
    if (read) PlaceMarker(fd, kHasRead, type);
    if (write) PlaceMarker(fd, kHasWrite, type);
    if ((share & kFileShareRead) == 0) PlaceMarker(fd, kNoShareRead, type);
    if ((share & kFileShareWrite) == 0) PlaceMarker(fd, kNoShareWrite, type);
    if (!ConflictsWithOthers(fd, read, write, share)) return true;
    // Two racing opens may each see the other: both step back for a random
    // while so that one of them gets through.
    DropMarkers(fd);
    if (attempt + 1 < kShareTries) SleepMilliseconds(1 + static_cast<int32_t>(RandomBelow(5)));
  }
  return false;
}

bool Fsync(int fd) {
  int result;
  do {
    result = fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// The directory that holds `path`'s last component.
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Flushes the entries of `directory` to the disk: a new, moved or removed
// name is durable only once the directory holding it is, whatever was done
// for the file's content.
bool FlushDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = Fsync(fd);
  close(fd);
  return flushed;
}

bool StatPath(const char* path, struct stat* info) {
  std::string name = PosixPath(path);
  return !name.empty() && stat(name.c_str(), info) == 0;
}

// How many links a trusted chain may have, as the kernel's own limit.
constexpr int kMaxLinkHops = 40;

bool IsTrustedOwner(uid_t owner) { return owner == geteuid() || owner == 0; }

// Reads the target of the link `name` in `directory` into `target` when
// that link is trusted. The owner and the target come from the same link,
// held open while both are read: a link swapped in under the name meanwhile
// is never taken for the trusted one.
bool TrustedLinkTarget(int directory, const std::string& name, std::string* target) {
  const int link = openat(directory, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (link < 0) return false;
  struct stat info;
  char text[4096];
  ssize_t length = -1;
  if (fstat(link, &info) == 0 && S_ISLNK(info.st_mode) && IsTrustedOwner(info.st_uid)) {
    length = readlinkat(link, "", text, sizeof(text));
  }
  close(link);
  if (length <= 0 || length >= static_cast<ssize_t>(sizeof(text))) return false;
  target->assign(text, static_cast<size_t>(length));
  // A relative target counts from the link's own folder.
  const size_t slash = name.rfind('/');
  if ((*target)[0] != '/' && slash != std::string::npos) {
    *target = name.substr(0, slash + 1) + *target;
  }
  return true;
}

// openat() that goes through a link at the last component only as `links`
// allows.
int OpenUnderRule(int directory, std::string name, int flags, LinkRule links) {
  if (links == LinkRule::kAny) return openat(directory, name.c_str(), flags, 0666);
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    const int fd = openat(directory, name.c_str(), flags | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != ELOOP || links != LinkRule::kTrusted) return fd;
    std::string target;
    if (!TrustedLinkTarget(directory, name, &target)) {
      errno = ELOOP;
      return -1;
    }
    name = target;
  }
  errno = ELOOP;
  return -1;
}

// Walks `path` from the directory `from` one component at a time, following
// a link only when it is trusted, and each link's target the same way.
// Returns an O_PATH descriptor of what the path leads to, or -1 with errno
// set; `untrusted` is set when a link of another user was in the way.
int WalkTrusted(int from, const std::string& path, int* hops, bool* untrusted) {
  int current = path[0] == '/' ? open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                               : fcntl(from, F_DUPFD_CLOEXEC, 3);
  if (current < 0) return -1;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    const int next = openat(current, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (next < 0 || fstat(next, &info) != 0) {
      const int error = errno;
      if (next >= 0) close(next);
      close(current);
      errno = error;
      return -1;
    }
    if (!S_ISLNK(info.st_mode)) {
      close(current);
      current = next;
      continue;
    }
    char text[4096];
    ssize_t length = -1;
    if (IsTrustedOwner(info.st_uid) && ++*hops <= kMaxLinkHops) {
      length = readlinkat(next, "", text, sizeof(text));
    }
    close(next);
    if (!IsTrustedOwner(info.st_uid)) *untrusted = true;
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof(text))) {
      close(current);
      errno = ELOOP;
      return -1;
    }
    const int reached =
        WalkTrusted(current, std::string(text, static_cast<size_t>(length)), hops, untrusted);
    const int error = errno;
    close(current);
    if (reached < 0) {
      errno = error;
      return -1;
    }
    current = reached;
  }
  return current;
}

// Flushes the entries of the directory `fd`.
bool FlushDirectoryFd(int fd) { return Fsync(fd); }

}  // namespace

namespace {

FileHandle OpenAt(int directory, const std::string& name, uint32_t access, uint32_t share,
                  FileDisposition disposition, LinkRule links, bool one_name) {
  if (name.empty()) return 0;
  const bool read = (access & kGenericRead) != 0;
  const bool write = (access & (kGenericWrite | kFileAppendData)) != 0;
  const bool append_only = (access & kFileAppendData) != 0 && (access & kGenericWrite) == 0;

  // O_NONBLOCK: a FIFO under the file's name must not block the open.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  flags |= read && write ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
  if (append_only) flags |= O_APPEND;
  bool empty_it = false;
  switch (disposition) {
    case FileDisposition::kOpenExisting:
      break;
    case FileDisposition::kOpenAlways:
      flags |= O_CREAT;
      break;
    case FileDisposition::kCreateAlways:
      flags |= O_CREAT;
      empty_it = true;
      break;
    case FileDisposition::kTruncateExisting:
      empty_it = true;
      break;
    case FileDisposition::kCreateNew:
      flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
    default:
      return 0;
  }

  int fd;
  do {
    fd = OpenUnderRule(directory, name, flags, links);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return 0;
  fd = AvoidDescriptorZero(fd);
  if (fd < 0) return 0;

  // Only files and devices: a directory opens read-only on POSIX but never
  // through CreateFileA, and FIFOs or sockets are no text files. A device
  // stays non-blocking: a terminal under a data file's name must not stop
  // the run waiting for someone to type.
  struct stat info;
  const int status = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISCHR(info.st_mode)) || status == -1 ||
      (S_ISREG(info.st_mode) && fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)) {
    close(fd);
    return 0;
  }
  // Before anything is read, written or emptied.
  if (one_name && S_ISREG(info.st_mode) && info.st_nlink > 1) {
    close(fd);
    return 0;
  }
  if (S_ISREG(info.st_mode)) {
    if (!ClaimShareMode(fd, (flags & O_ACCMODE) != O_WRONLY, read, write, share)) {
      close(fd);
      return 0;
    }
    // Only now: a refused open must leave the file as it was.
    if (empty_it && ftruncate(fd, 0) != 0) {
      close(fd);
      return 0;
    }
  }
  return fd;
}

}  // namespace

FileHandle OpenFileHandle(const char* path, uint32_t access, uint32_t share,
                          FileDisposition disposition, uint32_t /*attributes*/, LinkRule links,
                          bool one_name) {
  return OpenAt(AT_FDCWD, PosixPath(path), access, share, disposition, links, one_name);
}

FileHandle OpenFileIn(FolderHandle folder, const char* name, uint32_t access, uint32_t share,
                      FileDisposition disposition, uint32_t /*attributes*/, LinkRule links,
                      bool one_name) {
  // One entry of the folder: a path would lead out of it.
  const std::string entry = name;
  if (entry.find_first_of("/\\") != std::string::npos || entry == "." || entry == "..") return 0;
  return OpenAt(FolderFd(folder), entry, access, share, disposition, links, one_name);
}

int64_t QueryOpenFileSize(FileHandle file) {
  struct stat info;
  return fstat(Descriptor(file), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

FolderHandle HoldCurrentFolder() {
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder this user may enter but not list: held all the same, only not
  // flushed.
  if (fd < 0) fd = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  fd = AvoidDescriptorZero(fd);
  return fd < 0 ? 0 : fd;
}

FolderHandle HoldFolderIn(FolderHandle parent, const char* name, bool create,
                          FolderOutcome* outcome) {
  const int parent_fd = FolderFd(parent);
  const std::string entry = name;
  *outcome = FolderOutcome::kFailed;
  if (entry.empty() || entry.find_first_of("/\\") != std::string::npos) return 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int hops = 0;
    bool untrusted = false;
    const int reached = WalkTrusted(parent_fd, entry, &hops, &untrusted);
    if (untrusted) {
      if (reached >= 0) close(reached);
      *outcome = FolderOutcome::kUntrusted;
      return 0;
    }
    if (reached < 0) {
      if (errno != ENOENT) return 0;
      *outcome = FolderOutcome::kMissing;
      if (!create || attempt > 0) return 0;
      // Made here only when nothing has the name: mkdirat() never follows a
      // link, a dangling one included.
      if (mkdirat(parent_fd, entry.c_str(), 0777) != 0 && errno != EEXIST) {
        *outcome = FolderOutcome::kFailed;
        return 0;
      }
      // Without this a power cut can take the new folder away again, with
      // whatever is flushed into it later. Failing here changes nothing: the
      // folder is there.
      FlushDirectoryFd(parent_fd);
      continue;
    }
    // From the walk's end itself, never by name again.
    const int fd = AvoidDescriptorZero(openat(reached, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    close(reached);
    struct stat info;
    if (fd < 0) {
      *outcome = errno == ENOENT ? FolderOutcome::kMissing : FolderOutcome::kFailed;
      return 0;
    }
    if (fstat(fd, &info) != 0 || !IsTrustedOwner(info.st_uid)) {
      close(fd);
      *outcome = FolderOutcome::kUntrusted;
      return 0;
    }
    *outcome = FolderOutcome::kHeld;
    return fd;
  }
  return 0;
}

void ReleaseFolder(FolderHandle folder) {
  if (folder != 0) close(FolderFd(folder));
}

bool FlushFolder(FolderHandle folder) { return FlushDirectoryFd(FolderFd(folder)); }

uint32_t QueryEntryAttributesIn(FolderHandle folder, const char* name) {
  struct stat info;
  if (fstatat(FolderFd(folder), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return kInvalidFileAttributes;
  }
  if (S_ISDIR(info.st_mode)) return kFileAttributeDirectory;
  return S_ISREG(info.st_mode) ? kFileAttributeNormal : kFileAttributeDevice;
}

bool RemoveFileIn(FolderHandle folder, const char* name) {
  return unlinkat(FolderFd(folder), name, 0) == 0;
}

int32_t ReadFromFile(FileHandle file, void* destination, int32_t count) {
  if (count <= 0) return 0;
  ssize_t got;
  do {
    got = read(Descriptor(file), destination, static_cast<size_t>(count));
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<int32_t>(got) : 0;
}

int32_t WriteToFile(FileHandle file, const void* bytes, int32_t count) {
  const char* next = static_cast<const char*>(bytes);
  int32_t written = 0;
  // write() may take fewer bytes than offered without any error.
  while (written < count) {
    ssize_t done = write(Descriptor(file), next + written, static_cast<size_t>(count - written));
    if (done > 0) {
      written += static_cast<int32_t>(done);
    } else if (done < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return written;
}

void MoveFilePosition(FileHandle file, int32_t distance, SeekOrigin origin) {
  lseek(Descriptor(file), distance, origin == SeekOrigin::kEnd ? SEEK_END : SEEK_CUR);
}

bool FlushFileToDisk(FileHandle file) { return Fsync(Descriptor(file)); }

void CloseFileHandle(FileHandle file) { close(Descriptor(file)); }

bool MakeOneDirectory(const char* path) {
  const std::string name = PosixPath(path);
  if (name.empty() || mkdir(name.c_str(), 0777) != 0) return false;
  // Without this a power cut can take the new directory away again, with
  // whatever is flushed into it later. Failing here changes nothing: the
  // directory is there.
  FlushDirectory(DirectoryOf(name));
  return true;
}

bool FindFirstEntry(const char* path, FoundEntry* found) {
  struct stat info;
  if (!StatPath(path, &info)) return false;
  found->attributes = S_ISDIR(info.st_mode) ? kFileAttributeDirectory : kFileAttributeNormal;
  found->size = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
  return true;
}

uint32_t QueryPathAttributes(const char* path) {
  struct stat info;
  if (!StatPath(path, &info)) return kInvalidFileAttributes;
  if (S_ISDIR(info.st_mode)) return kFileAttributeDirectory;
  return S_ISREG(info.st_mode) ? kFileAttributeNormal : kFileAttributeDevice;
}

LinkTrust QueryLinkTrust(const char* path) {
  const std::string name = PosixPath(path);
  struct stat info;
  if (name.empty() || lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
    return LinkTrust::kNoLink;
  }
  return IsTrustedOwner(info.st_uid) ? LinkTrust::kTrusted : LinkTrust::kUntrusted;
}

uint32_t QueryDriveType(const char* path) {
  struct stat info;
  return StatPath(path, &info) && S_ISDIR(info.st_mode) ? kDriveFixed : kDriveNoRootDir;
}

namespace {

// The fallback of MoveWithoutReplacing for file systems without hard links:
// `to` is created exclusively and filled with the content of `from`.
bool CopyIntoNewFile(int directory, const std::string& from, const std::string& to) {
  int source = openat(directory, from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (source < 0) return false;
  int target = openat(directory, to.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (target < 0) {
    close(source);
    return false;
  }
  bool copied = true;
  char chunk[4096];
  for (;;) {
    ssize_t got = read(source, chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      copied = got == 0;
      break;
    }
    if (WriteToFile(target, chunk, static_cast<int32_t>(got)) != got) {
      copied = false;
      break;
    }
  }
  close(source);
  // The name exists from the create on: the content must reach the disk
  // before the caller counts the value as handed over.
  if (copied && !Fsync(target)) copied = false;
  if (close(target) != 0) copied = false;
  // A value cut short must not be handed over.
  if (!copied) unlinkat(directory, to.c_str(), 0);
  return copied;
}

// Flushes the directories that hold `source` and `target` once both names
// are as they should stay: one flush makes the new name and the removal of
// the old one durable together, so a power cut after it leaves neither the
// target missing nor the source behind.
void FlushDirectoriesOf(const std::string& source, const std::string& target) {
  const std::string target_directory = DirectoryOf(target);
  FlushDirectory(target_directory);
  if (DirectoryOf(source) != target_directory) FlushDirectory(DirectoryOf(source));
}

}  // namespace

bool MoveWithoutReplacing(const char* from, const char* to) {
  const std::string source = PosixPath(from);
  const std::string target = PosixPath(to);
  if (link(source.c_str(), target.c_str()) == 0) {
    unlink(source.c_str());
    FlushDirectoriesOf(source, target);
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EXDEV && errno != EMLINK &&
      errno != ENOSYS) {
    return false;
  }
  if (!CopyIntoNewFile(AT_FDCWD, source, target)) return false;
  unlink(source.c_str());
  FlushDirectoriesOf(source, target);
  return true;
}

bool MoveWithoutReplacingIn(FolderHandle folder, const char* from, const char* to) {
  const int directory = FolderFd(folder);
  // Only a link for the new name while the old one stays: it fails when the
  // new name exists, whatever is there, and never follows a link at `from`.
  if (linkat(directory, from, directory, to, 0) == 0) {
    unlinkat(directory, from, 0);
    // One flush makes the new name and the removal of the old one durable
    // together. When it fails the value is in place all the same.
    FlushDirectoryFd(directory);
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EXDEV && errno != EMLINK &&
      errno != ENOSYS) {
    return false;
  }
  // No hard links here: a rename that refuses to replace does the same.
  if (renameat2(directory, from, directory, to, RENAME_NOREPLACE) == 0) {
    FlushDirectoryFd(directory);
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  if (!CopyIntoNewFile(directory, from, to)) return false;
  unlinkat(directory, from, 0);
  FlushDirectoryFd(directory);
  return true;
}

bool RemoveFileAt(const char* path) { return unlink(PosixPath(path).c_str()) == 0; }

bool PathsHaveDriveLetters() { return false; }

int32_t LongestFullPath() { return PATH_MAX - 1; }

int32_t CurrentFolderLength() {
  char* path = getcwd(nullptr, 0);
  if (path == nullptr) return 0;
  const auto length = static_cast<int32_t>(std::strlen(path));
  std::free(path);
  return length;
}

}  // namespace runtime::platform
