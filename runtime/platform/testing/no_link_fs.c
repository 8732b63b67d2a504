// no-link-fs: a file system in user space that passes every call through to
// a folder, except that it keeps no hard links (link fails with EPERM) and
// knows no rename flags (a rename with RENAME_NOREPLACE or any other flag
// fails with EINVAL), as some network and FUSE file systems do. For the
// tests of the handoff on such a file system.
//
//   no-link-fs BACKING_FOLDER MOUNT_POINT [FUSE OPTIONS...]
//
// Runs in the foreground until the mount point is unmounted.
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

// The backing folder; every path is taken relative to it.
static int backing = -1;

// The path relative to the backing folder: "." for the root.
static const char* Relative(const char* path) {
  while (*path == '/') ++path;
  return *path == '\0' ? "." : path;
}

static int Result(int done) { return done < 0 ? -errno : done; }

static void* Init(struct fuse_conn_info* connection, struct fuse_config* config) {
  (void)connection;
  // Every call reaches the backing folder at once: no cached names or sizes
  // that would hide what another process just did.
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->use_ino = 1;
  return NULL;
}

static int GetAttributes(const char* path, struct stat* info, struct fuse_file_info* file) {
  if (file != NULL) return Result(fstat((int)file->fh, info));
  return Result(fstatat(backing, Relative(path), info, AT_SYMLINK_NOFOLLOW));
}

static int ReadLink(const char* path, char* target, size_t size) {
  const ssize_t length = readlinkat(backing, Relative(path), target, size - 1);
  if (length < 0) return -errno;
  target[length] = '\0';
  return 0;
}

static int ReadFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                      struct fuse_file_info* file, enum fuse_readdir_flags flags) {
  (void)offset;
  (void)file;
  (void)flags;
  const int fd = openat(backing, Relative(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -errno;
  DIR* folder = fdopendir(fd);
  if (folder == NULL) {
    close(fd);
    return -errno;
  }
  for (struct dirent* entry; (entry = readdir(folder)) != NULL;) {
    struct stat info;
    memset(&info, 0, sizeof(info));
    info.st_ino = entry->d_ino;
    info.st_mode = (mode_t)DTTOIF(entry->d_type);
    if (fill(buffer, entry->d_name, &info, 0, 0)) break;
  }
  closedir(folder);
  return 0;
}

static int MakeFolder(const char* path, mode_t mode) {
  return Result(mkdirat(backing, Relative(path), mode));
}

static int Remove(const char* path) { return Result(unlinkat(backing, Relative(path), 0)); }

static int RemoveFolder(const char* path) {
  return Result(unlinkat(backing, Relative(path), AT_REMOVEDIR));
}

static int MakeSymbolicLink(const char* target, const char* path) {
  return Result(symlinkat(target, backing, Relative(path)));
}

static int Rename(const char* from, const char* to, unsigned int flags) {
  // No RENAME_NOREPLACE, nor any other flag, here.
  if (flags != 0) return -EINVAL;
  return Result(renameat(backing, Relative(from), backing, Relative(to)));
}

static int Link(const char* from, const char* to) {
  (void)from;
  (void)to;
  // No hard links here.
  return -EPERM;
}

static int ChangeMode(const char* path, mode_t mode, struct fuse_file_info* file) {
  if (file != NULL) return Result(fchmod((int)file->fh, mode));
  return Result(fchmodat(backing, Relative(path), mode, 0));
}

static int ChangeOwner(const char* path, uid_t uid, gid_t gid, struct fuse_file_info* file) {
  if (file != NULL) return Result(fchown((int)file->fh, uid, gid));
  return Result(fchownat(backing, Relative(path), uid, gid, AT_SYMLINK_NOFOLLOW));
}

static int Truncate(const char* path, off_t size, struct fuse_file_info* file) {
  if (file != NULL) return Result(ftruncate((int)file->fh, size));
  const int fd = openat(backing, Relative(path), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  const int done = Result(ftruncate(fd, size));
  close(fd);
  return done;
}

static int SetTimes(const char* path, const struct timespec times[2],
                    struct fuse_file_info* file) {
  if (file != NULL) return Result(futimens((int)file->fh, times));
  return Result(utimensat(backing, Relative(path), times, AT_SYMLINK_NOFOLLOW));
}

static int Create(const char* path, mode_t mode, struct fuse_file_info* file) {
  const int fd = openat(backing, Relative(path), (file->flags | O_CLOEXEC) & ~O_NOFOLLOW, mode);
  if (fd < 0) return -errno;
  file->fh = (uint64_t)fd;
  return 0;
}

static int Open(const char* path, struct fuse_file_info* file) {
  const int fd = openat(backing, Relative(path), (file->flags | O_CLOEXEC) & ~O_NOFOLLOW);
  if (fd < 0) return -errno;
  file->fh = (uint64_t)fd;
  return 0;
}

static int Read(const char* path, char* buffer, size_t size, off_t offset,
                struct fuse_file_info* file) {
  (void)path;
  return Result((int)pread((int)file->fh, buffer, size, offset));
}

static int Write(const char* path, const char* buffer, size_t size, off_t offset,
                 struct fuse_file_info* file) {
  (void)path;
  return Result((int)pwrite((int)file->fh, buffer, size, offset));
}

static int StatFileSystem(const char* path, struct statvfs* info) {
  (void)path;
  return Result(fstatvfs(backing, info));
}

static int Release(const char* path, struct fuse_file_info* file) {
  (void)path;
  close((int)file->fh);
  return 0;
}

static int Sync(const char* path, int data_only, struct fuse_file_info* file) {
  (void)path;
  return Result(data_only ? fdatasync((int)file->fh) : fsync((int)file->fh));
}

static const struct fuse_operations kOperations = {
    .init = Init,
    .getattr = GetAttributes,
    .readlink = ReadLink,
    .readdir = ReadFolder,
    .mkdir = MakeFolder,
    .unlink = Remove,
    .rmdir = RemoveFolder,
    .symlink = MakeSymbolicLink,
    .rename = Rename,
    .link = Link,
    .chmod = ChangeMode,
    .chown = ChangeOwner,
    .truncate = Truncate,
    .utimens = SetTimes,
    .create = Create,
    .open = Open,
    .read = Read,
    .write = Write,
    .statfs = StatFileSystem,
    .release = Release,
    .fsync = Sync,
};

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: no-link-fs BACKING_FOLDER MOUNT_POINT [FUSE OPTIONS...]\n", stderr);
    return 2;
  }
  backing = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (backing < 0) {
    perror(argv[1]);
    return 1;
  }
  // The file system sees every caller's own permissions checked by the
  // kernel, and runs single-threaded in the foreground.
  char* arguments[64];
  int count = 0;
  arguments[count++] = argv[0];
  arguments[count++] = argv[2];
  arguments[count++] = "-f";
  arguments[count++] = "-s";
  arguments[count++] = "-o";
  arguments[count++] = "default_permissions";
  for (int i = 3; i < argc && count < 63; ++i) arguments[count++] = argv[i];
  arguments[count] = NULL;
  umask(0);
  return fuse_main(count, arguments, &kOperations, NULL);
}
