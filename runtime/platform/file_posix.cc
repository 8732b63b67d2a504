// The POSIX file backend.
//
// - Every '\' in a path is a separator, so "raspuns\cant.txt" is the file
//   cant.txt in the directory raspuns.
// - Dispositions: kOpenExisting opens without O_CREAT, kOpenAlways creates
//   when missing, kCreateAlways creates or empties, kTruncateExisting empties
//   without creating, kCreateNew creates and fails on anything already there.
//   A missing entry is always created with O_CREAT | O_EXCL | O_NOFOLLOW at
//   the very name that was found missing, so a link or file put there
//   meanwhile is never written through; an existing one is opened with
//   O_NOFOLLOW. Emptying happens only after the share check passed, as
//   Windows refuses a conflicting open without touching the file.
// - An entry is judged with fstatat() without following before any open: a
//   device or FIFO opened even for a moment may act (a tape rewinds, a modem
//   hangs up, a FIFO's writer sees a reader). An existing file is then taken
//   with O_PATH, which opens nothing, checked again, and that very inode
//   opened through /proc/self/fd, so nothing swapped in under the name
//   meanwhile is opened (without /proc, the name itself, O_NOFOLLOW). Every
//   open is O_NONBLOCK | O_NOCTTY, and fstat() of the descriptor must show a
//   regular file with the device and inode that were judged. O_NONBLOCK is
//   dropped for the regular file.
// - Links are followed by reading them: the link is opened itself
//   (O_PATH | O_NOFOLLOW), its owner read with fstat() and its target with
//   readlinkat() on that descriptor, so a link swapped in meanwhile is never
//   taken for the checked one. The folders in a target are walked one
//   component at a time the same way.
// - Access: kGenericRead gives a readable descriptor, kGenericWrite a
//   writable one; kFileAppendData without kGenericWrite a writable
//   descriptor with O_APPEND, so every write lands at the end of the file
//   as it is at that moment.
// - Share modes, which the kernel does not enforce, are emulated with
//   open-file-description locks (F_OFD_SETLK / F_OFD_GETLK) on four marker
//   regions at offsets far beyond any real content, one 2^24-byte region
//   each from 0x7FFFFFFF00000000: "has read access", "has write access",
//   "does not share read", "does not share write". An open first places a
//   1-byte marker at a random offset in every region that describes it
//   (a read lock when the descriptor is readable, else a write lock), then
//   looks for markers of other opens in the regions that conflict with it:
//   reading needs nobody in "does not share read", writing nobody in "does
//   not share write", not sharing read nobody in "has read access", not
//   sharing write nobody in "has write access". Marking before looking
//   means that of two racing conflicting opens at least one sees the other;
//   an open that sees a conflict drops its markers, waits 1 to 5 ms at
//   random and tries again, and fails after a few tries. The markers go
//   away with the last descriptor of the open, also when a process dies.
//   Locks that are not 1-byte markers inside a region belong to someone
//   else and never make an open fail; where such a lock keeps a marker out
//   or hides one, opens are let through rather than refused.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "runtime/platform/clock.h"
#include "runtime/platform/file.h"
#include "runtime/platform/owner_posix.h"
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

int Descriptor(FileHandle file) { return static_cast<int>(file); }

// A folder's descriptor; 0 is the current folder.
int FolderFd(FolderHandle folder) { return folder == 0 ? AT_FDCWD : static_cast<int>(folder); }

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

// How many links one way to an entry may follow in all, as the kernel's own
// limit.
constexpr int kMaxLinkHops = 40;

// True when a link of `owner` may be followed under `links`.
bool MayFollow(LinkRule links, uid_t owner) {
  return links == LinkRule::kAny || (links == LinkRule::kTrusted && IsTrustedOwner(owner));
}

// True when `name` is one entry of a folder: no separator, not "." or "..".
bool IsOneEntry(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos;
}

// Reads the target of the link `name` in `directory` when `links` allows
// following it. The owner and the target come from the same link, held open
// while both are read. Sets `*untrusted` when it is a link of an owner that
// `links` does not follow.
bool FollowableTarget(int directory, const std::string& name, LinkRule links, std::string* target,
                      bool* untrusted) {
  const int link = openat(directory, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (link < 0) return false;
  struct stat info;
  char text[4096];
  ssize_t length = -1;
  if (fstat(link, &info) == 0 && S_ISLNK(info.st_mode)) {
    if (MayFollow(links, info.st_uid)) {
      length = readlinkat(link, "", text, sizeof(text));
    } else {
      *untrusted = true;
    }
  }
  close(link);
  if (length <= 0 || length >= static_cast<ssize_t>(sizeof(text))) return false;
  target->assign(text, static_cast<size_t>(length));
  return true;
}

// Walks `path` from the directory `from` one component at a time, following
// a link only as `links` allows, and each link's target the same way.
// Returns an O_PATH descriptor of what the path leads to, or -1 with errno
// set; `untrusted` is set when a link that may not be followed was in the
// way. Every link followed counts in `hops`.
int WalkFollowing(int from, const std::string& path, LinkRule links, int* hops, bool* untrusted) {
  int current = !path.empty() && path[0] == '/' ? open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                : from == AT_FDCWD              ? open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)
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
    if (!MayFollow(links, info.st_uid)) {
      *untrusted = true;
    } else if (++*hops <= kMaxLinkHops) {
      length = readlinkat(next, "", text, sizeof(text));
    }
    close(next);
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof(text))) {
      close(current);
      errno = ELOOP;
      return -1;
    }
    const int reached = WalkFollowing(current, std::string(text, static_cast<size_t>(length)),
                                      links, hops, untrusted);
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

// Where the way to an entry ended: the folder that holds the entry reached
// (an O_PATH descriptor, or -1) and its name there, with what it is.
struct Reached {
  int parent = -1;
  std::string name;
  EntryFacts facts;
  struct stat info = {};  // for an existing entry
};

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISCHR(mode)) return EntryKind::kCharacterDevice;
  if (S_ISFIFO(mode)) return EntryKind::kFifo;
  return EntryKind::kOther;
}

// Follows the entry `name` of `directory` as `links` allows, link by link,
// judging every step without following and without opening anything but
// links and folders (O_PATH), and fills `reached`. The caller closes
// `reached->parent`.
void Reach(int directory, const std::string& name, LinkRule links, Reached* reached) {
  reached->parent = directory == AT_FDCWD ? open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)
                                          : fcntl(directory, F_DUPFD_CLOEXEC, 3);
  reached->name = name;
  reached->facts = EntryFacts();
  if (reached->parent < 0) return;
  int hops = 0;
  for (;;) {
    const std::string& last = reached->name;
    struct stat& info = reached->info;
    if (last.empty() || last == "." || last == "..") {
      // A target that ends in a folder.
      bool untrusted = false;
      const int folder = WalkFollowing(reached->parent, last, links, &hops, &untrusted);
      close(reached->parent);
      reached->parent = folder;
      reached->name.clear();
      if (folder >= 0 && fstat(folder, &info) == 0) reached->facts.kind = EntryKind::kFolder;
      return;
    }
    if (fstatat(reached->parent, last.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) reached->facts.kind = EntryKind::kMissing;
      return;
    }
    if (!S_ISLNK(info.st_mode)) {
      reached->facts.kind = KindOf(info.st_mode);
      if (S_ISREG(info.st_mode)) {
        reached->facts.size = static_cast<int64_t>(info.st_size);
        reached->facts.links = static_cast<uint32_t>(info.st_nlink);
      }
      return;
    }
    if (links == LinkRule::kNever) {
      reached->facts.kind =
          IsTrustedOwner(info.st_uid) ? EntryKind::kTrustedLink : EntryKind::kUntrustedLink;
      return;
    }
    std::string target;
    bool untrusted = false;
    if (!FollowableTarget(reached->parent, last, links, &target, &untrusted)) {
      if (untrusted) reached->facts.kind = EntryKind::kUntrustedLink;
      return;
    }
    if (++hops > kMaxLinkHops) return;
    reached->facts.through_link = true;
    // The target's folders are walked from the link's own folder; its last
    // component is judged in the next round.
    const std::size_t slash = target.find_last_of('/');
    if (slash != std::string::npos) {
      const std::string folders = slash == 0 ? "/" : target.substr(0, slash);
      const int folder = WalkFollowing(reached->parent, folders, links, &hops, &untrusted);
      close(reached->parent);
      reached->parent = folder;
      if (folder < 0) {
        if (untrusted) reached->facts.kind = EntryKind::kUntrustedLink;
        return;
      }
      target.erase(0, slash + 1);
    }
    reached->name = target;
  }
}

// True when `info` is the regular file that was judged.
bool IsJudgedFile(const Reached& reached, const struct stat& info) {
  return S_ISREG(info.st_mode) &&
         (reached.facts.kind == EntryKind::kMissing ||
          (info.st_dev == reached.info.st_dev && info.st_ino == reached.info.st_ino));
}

// Opens the existing entry reached with `flags`. The entry is first taken
// without opening what it is (O_PATH), checked, and then that very inode is
// opened through /proc/self/fd: something swapped in under the name after
// the check, a device or FIFO included, is never opened. Without /proc the
// name is opened itself, O_NOFOLLOW and O_NONBLOCK, and the descriptor is
// checked after.
int OpenExisting(const Reached& reached, int flags) {
  const int path = openat(reached.parent, reached.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (path < 0) return -1;
  struct stat info;
  if (fstat(path, &info) != 0 || !IsJudgedFile(reached, info)) {
    close(path);
    errno = EAGAIN;
    return -1;
  }
  char proc[40];
  std::snprintf(proc, sizeof(proc), "/proc/self/fd/%d", path);
  int fd = open(proc, flags | O_NONBLOCK | O_NOCTTY);
  if (fd < 0 && errno == ENOENT) {
    fd = openat(reached.parent, reached.name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  }
  const int error = errno;
  close(path);
  errno = error;
  return fd;
}

// The open itself, once the entry was judged: O_EXCL where it was missing,
// never following a link, never waiting, and only a regular file that is
// the very file judged, or a new one.
int OpenReached(const Reached& reached, int flags) {
  int fd;
  do {
    fd = reached.facts.kind == EntryKind::kMissing
             ? openat(reached.parent, reached.name.c_str(),
                      flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666)
             : OpenExisting(reached, flags & ~O_CREAT);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  fd = AvoidDescriptorZero(fd);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0 || !IsJudgedFile(reached, info)) {
    close(fd);
    errno = EAGAIN;
    return -1;
  }
  return fd;
}

// How often an open judges the entry again when it changed between the
// judging and the open.
constexpr int kOpenTries = 3;

FileHandle OpenEntry(int directory, const std::string& name, uint32_t access, uint32_t share,
                     FileDisposition disposition, LinkRule links, bool one_name) {
  if (!IsOneEntry(name)) return 0;
  const bool read = (access & kGenericRead) != 0;
  const bool write = (access & (kGenericWrite | kFileAppendData)) != 0;
  const bool append_only = (access & kFileAppendData) != 0 && (access & kGenericWrite) == 0;

  int flags = O_CLOEXEC;
  flags |= read && write ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
  if (append_only) flags |= O_APPEND;
  bool create = false;
  bool empty_it = false;
  switch (disposition) {
    case FileDisposition::kOpenExisting:
      break;
    case FileDisposition::kOpenAlways:
      create = true;
      break;
    case FileDisposition::kCreateAlways:
      create = true;
      empty_it = true;
      break;
    case FileDisposition::kTruncateExisting:
      empty_it = true;
      break;
    case FileDisposition::kCreateNew:
      create = true;
      // Anything under the name, a link included, makes it fail.
      links = LinkRule::kNever;
      break;
    default:
      return 0;
  }

  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kOpenTries; ++attempt) {
    Reached reached;
    Reach(directory, name, links, &reached);
    const EntryKind kind = reached.facts.kind;
    // Only a regular file, judged before anything is opened.
    const bool fits = (kind == EntryKind::kFile && disposition != FileDisposition::kCreateNew &&
                       !(one_name && reached.facts.links > 1)) ||
                      (kind == EntryKind::kMissing && create);
    if (fits) fd = OpenReached(reached, flags);
    const int error = errno;
    if (reached.parent >= 0) close(reached.parent);
    errno = error;
    // Only a change between the judging and the open is worth another look.
    if (!fits || (fd < 0 && error != EEXIST && error != EAGAIN && error != ENOENT)) break;
  }
  if (fd < 0) return 0;

  struct stat info;
  const int status = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || status == -1 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 ||
      (one_name && info.st_nlink > 1)) {
    close(fd);
    return 0;
  }
  if (!ClaimShareMode(fd, (flags & O_ACCMODE) != O_WRONLY, read, write, share)) {
    close(fd);
    return 0;
  }
  // Only now: a refused open must leave the file as it was.
  if (empty_it && ftruncate(fd, 0) != 0) {
    close(fd);
    return 0;
  }
  return fd;
}

// Flushes the entries of the directory `fd`.
bool FlushDirectoryFd(int fd) { return Fsync(fd); }

}  // namespace

FileHandle OpenFileIn(FolderHandle folder, const char* name, uint32_t access, uint32_t share,
                      FileDisposition disposition, uint32_t /*attributes*/, LinkRule links,
                      bool one_name) {
  return OpenEntry(FolderFd(folder), name, access, share, disposition, links, one_name);
}

EntryFacts InspectEntryIn(FolderHandle folder, const char* name, LinkRule links) {
  if (!IsOneEntry(name)) return EntryFacts();
  Reached reached;
  Reach(FolderFd(folder), name, links, &reached);
  if (reached.parent >= 0) close(reached.parent);
  return reached.facts;
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
  // One entry: ".." would hold the parent, a path some other folder.
  if (!IsOneEntry(entry)) return 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int hops = 0;
    bool untrusted = false;
    const int reached = WalkFollowing(parent_fd, entry, LinkRule::kTrusted, &hops, &untrusted);
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

FolderHandle HoldFolderForLookingIn(FolderHandle parent, const char* name) {
  if (!IsOneEntry(name)) return 0;
  const int fd = AvoidDescriptorZero(
      openat(FolderFd(parent), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return fd < 0 ? 0 : fd;
}

void ReleaseFolder(FolderHandle folder) {
  if (folder != 0) close(FolderFd(folder));
}

bool FlushFolder(FolderHandle folder) { return FlushDirectoryFd(FolderFd(folder)); }

uint32_t QueryEntryAttributesIn(FolderHandle folder, const char* name) {
  switch (InspectEntryIn(folder, name, LinkRule::kNever).kind) {
    case EntryKind::kMissing:
    case EntryKind::kUnreachable:
      return kInvalidFileAttributes;
    case EntryKind::kFile:
      return kFileAttributeNormal;
    case EntryKind::kFolder:
      return kFileAttributeDirectory;
    default:
      return kFileAttributeDevice;
  }
}

bool RemoveFileIn(FolderHandle folder, const char* name) {
  return IsOneEntry(name) && unlinkat(FolderFd(folder), name, 0) == 0;
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

int32_t AppendWhole(FileHandle file, const void* bytes, int32_t count) {
  if (count <= 0) return 0;
  const int fd = Descriptor(file);
  // One write() on an append-only descriptor: its bytes land together at the
  // end, after any other process's. Where it is cut short, the file's end
  // right after it tells where the line began.
  ssize_t done;
  do {
    done = write(fd, bytes, static_cast<size_t>(count));
  } while (done < 0 && errno == EINTR);
  if (done == count) return count;
  if (done > 0) {
    struct stat info;
    const off_t end = lseek(fd, 0, SEEK_CUR);
    // Cut back only while the file still ends with these bytes: a line
    // another run appended after them must stay.
    if (end >= done && fstat(fd, &info) == 0 && info.st_size == end) {
      ftruncate(fd, end - done);
    }
  }
  return 0;
}

bool FlushFileToDisk(FileHandle file) { return Fsync(Descriptor(file)); }

void ClearFileError() { errno = 0; }

int32_t LastFileError() { return errno; }

void CloseFileHandle(FileHandle file) { close(Descriptor(file)); }

LinkTrust QueryLinkTrustIn(FolderHandle folder, const char* name) {
  struct stat info;
  if (!IsOneEntry(name) || fstatat(FolderFd(folder), name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISLNK(info.st_mode)) {
    return LinkTrust::kNoLink;
  }
  return IsTrustedOwner(info.st_uid) ? LinkTrust::kTrusted : LinkTrust::kUntrusted;
}

namespace {

// True when a failed linkat() means that the file system keeps no hard
// links, rather than that the move itself is refused.
bool NoHardLinks(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == EXDEV || error == EMLINK ||
         error == ENOSYS;
}

// True when a failed renameat2() means that the file system does not know
// RENAME_NOREPLACE.
bool NoRenameFlags(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// The last way to move without replacing, for file systems that keep
// neither hard links nor RENAME_NOREPLACE: a plain rename, which would
// replace, done only while `to` is absent and while every run of this
// program that could make `to` waits for the lock on the folder. Only this
// program's runs make that name; a consumer only takes it away. The file is
// whole before the rename, so `to` never appears empty or half written.
bool RenameUnderFolderLock(int directory, const char* from, const char* to) {
  int locked;
  do {
    locked = flock(directory, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  // Without the lock two runs could each see `to` absent: better to refuse.
  if (locked != 0) return false;
  struct stat info;
  const bool absent = fstatat(directory, to, &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
  const bool moved = absent && renameat(directory, from, directory, to) == 0;
  flock(directory, LOCK_UN);
  return moved;
}

}  // namespace

bool MoveWithoutReplacingIn(FolderHandle folder, const char* from, const char* to) {
  if (!IsOneEntry(from) || !IsOneEntry(to)) return false;
  const int directory = FolderFd(folder);
  bool moved = false;
  // Only a link for the new name while the old one stays: it fails when the
  // new name exists, whatever is there, and never follows a link at `from`.
  if (linkat(directory, from, directory, to, 0) == 0) {
    unlinkat(directory, from, 0);
    moved = true;
  } else if (errno == EEXIST || !NoHardLinks(errno)) {
    return false;
  } else if (renameat2(directory, from, directory, to, RENAME_NOREPLACE) == 0) {
    // No hard links here: a rename that refuses to replace does the same.
    moved = true;
  } else if (errno == EEXIST || !NoRenameFlags(errno)) {
    return false;
  } else {
    moved = RenameUnderFolderLock(directory, from, to);
  }
  // One flush makes the new name and the removal of the old one durable
  // together. When it fails the value is in place all the same.
  if (moved) FlushDirectoryFd(directory);
  return moved;
}

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
