#ifndef WEIGH_RUNTIME_PLATFORM_FILE_H_
#define WEIGH_RUNTIME_PLATFORM_FILE_H_

// Files, directories and paths, one platform call each. Paths are 8-bit
// texts; relative paths resolve against the current directory.
//
// Windows backend: CreateFileA, ReadFile, WriteFile, SetFilePointer,
// FlushFileBuffers, CloseHandle, CreateDirectoryA, FindFirstFileA/FindClose,
// GetFileAttributesA, GetFileInformationByHandle and GetDriveTypeA with the
// values given here.
//
// POSIX backend: the same observable behaviour.
// - Every '\' in a path is a separator, so "raspuns\cant.txt" is the file
//   cant.txt in the directory raspuns.
// - Dispositions: kOpenExisting opens without O_CREAT, kOpenAlways adds
//   O_CREAT, kCreateAlways adds O_CREAT and empties the file,
//   kTruncateExisting empties the file without O_CREAT, kCreateNew is
//   O_CREAT | O_EXCL | O_NOFOLLOW: it fails on anything already there, a
//   symbolic link (dangling or not) included, and so never writes through
//   a link that someone planted under the name. Files are created
//   with mode 0666 under the umask. Emptying happens only after the share
//   check passed, as Windows refuses a conflicting open without touching
//   the file.
// - Only regular files and character devices open; directories, FIFOs and
//   sockets are refused. Neither the open nor a read or write ever waits:
//   a device (a terminal, say) stays non-blocking, so a read with nothing
//   there ends like the end of a file and a write it cannot take fails.
// - Access: kGenericRead gives a readable descriptor, kGenericWrite a
//   writable one; kFileAppendData without kGenericWrite a writable
//   descriptor with O_APPEND, so every write lands at the end of the file
//   as it is at that moment.
// - Share modes, which the kernel does not enforce, are emulated for regular
//   files among the opens made through this backend, in this and in other
//   processes, with
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

#include <cstdint>

namespace runtime::platform {

// An open file; 0 means none. Never 0 for an open file.
using FileHandle = std::intptr_t;

// Access rights, with the values of the Win32 constants of the same names.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kFileAppendData = 0x00000004u;

// Share modes: what other opens of the same file may do meanwhile.
constexpr uint32_t kFileShareRead = 0x1u;
constexpr uint32_t kFileShareWrite = 0x2u;

// What to do when the file exists or does not, with the Win32 values.
enum class FileDisposition : uint32_t {
  kCreateNew = 1,         // create, fail when anything has the name
  kCreateAlways = 2,      // create, or empty an existing file
  kOpenExisting = 3,      // fail when missing
  kOpenAlways = 4,        // create when missing, keep existing content
  kTruncateExisting = 5,  // empty an existing file, fail when missing
};

// File attributes.
constexpr uint32_t kFileAttributeDirectory = 0x10u;
constexpr uint32_t kFileAttributeDevice = 0x40u;
constexpr uint32_t kFileAttributeNormal = 0x80u;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// Where a move of the file position counts from.
enum class SeekOrigin : uint32_t {
  kCurrent = 1,
  kEnd = 2,
};

// Which symbolic links an open goes through at the path's last component.
// POSIX: kNever opens with O_NOFOLLOW, so a link there makes the open fail;
// kTrusted follows a link only when it belongs to the user this process
// runs as or to root (the rule the kernel's protected_symlinks applies in
// sticky folders), by the target text read from that very link, so that a
// link swapped in meanwhile is never followed; a chain of links is followed
// link by link under the same rule. Windows: kNever opens with
// FILE_FLAG_OPEN_REPARSE_POINT and refuses a handle that is a reparse point
// (a symbolic link, a junction); kTrusted follows as kAny does, as Windows
// keeps no such rule for links.
enum class LinkRule {
  kAny,      // follow every link
  kNever,    // follow none
  kTrusted,  // follow only links of this user or root
};

// What a link at a path's last component is to this process.
enum class LinkTrust {
  kNoLink,     // no link there (nothing at all, or no link)
  kTrusted,    // a link of the user this process runs as, or of root
  kUntrusted,  // a link of another user
};

// A folder held open by this process; 0 means none. A name given with a
// held folder is one entry of that very folder, however the folder's own
// name or the names on the way to it change meanwhile: nothing swapped in
// under those names is ever reached. POSIX: a directory descriptor, and
// every call on a name in it is an *at() call. Windows: a handle to the
// folder without delete sharing, so that it cannot be renamed, removed or
// replaced while held, and names in it are opened under its path.
using FolderHandle = std::intptr_t;

// What holding a folder found.
enum class FolderOutcome {
  kHeld,       // the folder is held
  kMissing,    // nothing under the name (or a link to nothing)
  kUntrusted,  // not this user's: see HoldFolderIn
  kFailed,     // anything else: not a folder, access denied
};

// Drive types below this value mean that no such drive or root exists.
constexpr uint32_t kFirstExistingDriveType = 2;

// Opens or creates the file at `path` with `access` (kGeneric* and
// kFileAppendData bits), `share` (kFileShare* bits), `disposition` and
// `attributes` for a new file, going through a link at the path's last
// component as `links` allows. Returns 0 when the platform refuses: a
// missing file or directory, access denied, a sharing conflict, a
// directory, a link that `links` does not allow.
// With `one_name` a file that has more than one name (a hard link: st_nlink,
// nNumberOfLinks) is refused before anything is read, written or emptied:
// another name may be someone else's way to a file this user must not touch.
FileHandle OpenFileHandle(const char* path, uint32_t access, uint32_t share,
                          FileDisposition disposition, uint32_t attributes,
                          LinkRule links = LinkRule::kAny, bool one_name = false);

// Holds the current folder for as long as names are used in it; 0 when it
// cannot be held.
FolderHandle HoldCurrentFolder();

// Holds the folder `name` (one component) in `parent`; with `create` it is
// made first when nothing has the name, and its parent flushed to the disk
// so that the new name survives a power cut. Fills `outcome` and returns 0
// unless it is kHeld. POSIX: a link on the way is followed only under
// LinkRule::kTrusted, link by link and component by component of each
// target, each link read from the very entry whose owner was checked; the
// folder reached must belong to this user or root, as one that another user
// made first (in a sticky folder, say) lets that user remove or replace what
// is put into it. Any of that failing is kUntrusted. Windows: a reparse
// point (a symbolic link, a junction) is followed when its owner is this
// user, Administrators, SYSTEM or TrustedInstaller, and held as well as the
// folder it leads to; any other owner's is kUntrusted. The folder is held
// with read and write sharing only.
FolderHandle HoldFolderIn(FolderHandle parent, const char* name, bool create,
                          FolderOutcome* outcome);

// Lets go of a held folder.
void ReleaseFolder(FolderHandle folder);

// Puts the folder's entries (new, moved and removed names) on the disk.
// Returns false when the platform could not. Windows: nothing to do, as NTFS
// journals names and MoveWithoutReplacingIn writes through.
bool FlushFolder(FolderHandle folder);

// OpenFileHandle for the entry `name` of the held `folder`.
FileHandle OpenFileIn(FolderHandle folder, const char* name, uint32_t access, uint32_t share,
                      FileDisposition disposition, uint32_t attributes, LinkRule links,
                      bool one_name);

// What is the entry `name` of `folder`, a link not followed: exactly one of
// kFileAttributeDirectory, kFileAttributeNormal (a file) and
// kFileAttributeDevice (anything else, a link or reparse point included), or
// kInvalidFileAttributes when there is nothing.
uint32_t QueryEntryAttributesIn(FolderHandle folder, const char* name);

// MoveWithoutReplacing for two entries of the held `folder`. POSIX:
// linkat(), then unlinkat() of `from`; where the file system refuses hard
// links, renameat2() with RENAME_NOREPLACE, and where that is refused too,
// the exclusive create and copy. Then the folder is flushed once.
bool MoveWithoutReplacingIn(FolderHandle folder, const char* from, const char* to);

// Removes the entry `name` (not a folder) of `folder`. True when removed.
bool RemoveFileIn(FolderHandle folder, const char* name);

// How big the open file is, in bytes; -1 when the platform cannot tell.
int64_t QueryOpenFileSize(FileHandle file);

// Reads up to `count` bytes at the file position into `destination`.
// Returns the count read: 0 at the end of the file or on failure.
int32_t ReadFromFile(FileHandle file, void* destination, int32_t count);

// Writes `count` bytes at the file position (at the end for an append-only
// open) and returns how many the platform accepted; fewer only on a real
// error such as a full disk. A count of 0 writes nothing.
int32_t WriteToFile(FileHandle file, const void* bytes, int32_t count);

// Moves the file position by `distance` bytes from `origin`. A move before
// the start of the file fails and leaves the position where it was.
void MoveFilePosition(FileHandle file, int32_t distance, SeekOrigin origin);

// Puts everything written to `file` on the disk itself before it returns,
// past every cache that a power cut empties (FlushFileBuffers; fsync on
// POSIX). Returns false when the platform could not: what was written may
// then be lost at a power cut. The handle must allow writing.
bool FlushFileToDisk(FileHandle file);

// Closes the file; its share restrictions end with it.
void CloseFileHandle(FileHandle file);

// Creates the directory `path` (only its last component). Returns true when
// it was created; false when it exists already, its parent is missing, the
// name is not valid or access is denied. POSIX: the directory it was created
// in is then flushed to the disk, so that the new name survives a power cut
// (NTFS writes it with the journal that the next write-through move
// flushes).
bool MakeOneDirectory(const char* path);

// What a directory search found.
struct FoundEntry {
  uint32_t attributes;
  uint64_t size;
};

// Looks for the file or directory `path` (FindFirstFileA, then FindClose).
// Returns true and fills `found` when something is there.
bool FindFirstEntry(const char* path, FoundEntry* found);

// Returns the attributes of `path` (kFileAttributeDirectory set for a
// directory; on POSIX kFileAttributeDevice for anything that is neither a
// regular file nor a directory), or kInvalidFileAttributes when it cannot
// be had.
uint32_t QueryPathAttributes(const char* path);

// Tells whether the last component of `path` is a link, and whose. POSIX:
// a symbolic link, trusted when it belongs to the user this process runs
// as or to root. Windows: any reparse point (a symbolic link, a junction)
// is a link, trusted when its owner is this user, Administrators, SYSTEM or
// TrustedInstaller.
LinkTrust QueryLinkTrust(const char* path);

// Returns the platform's drive type for the root `path`; values below
// kFirstExistingDriveType mean that there is no such drive or root.
uint32_t QueryDriveType(const char* path);

// Gives the file `from` the name `to`, but only while nothing has that
// name: an existing `to` is never replaced, and a reader never sees `to`
// half written. Returns true when the file was moved; false when `to`
// exists (then `from` is left as it was) or the platform refused.
// Windows: MoveFileExA with MOVEFILE_WRITE_THROUGH and without
// MOVEFILE_REPLACE_EXISTING, tried again a few times after a short pause on
// a sharing or access error (another program may hold `from` for a moment),
// never on "already exists". POSIX: link() then unlink() of `from`, then
// the directories of both names are flushed to the disk; where the file
// system refuses hard links, an exclusive create of `to` that the content is
// copied into and flushed. Either way a true return means that both names
// are as they now are on the disk too, except where a directory flush failed
// (the move still happened: `to` holds the whole file, which only a power
// cut could then take away again).
//
// The content itself is not flushed here: flush the file before the move,
// or a power cut may leave `to` present but empty.
bool MoveWithoutReplacing(const char* from, const char* to);

// Removes the file `path`. Returns true when it was removed.
bool RemoveFileAt(const char* path);

// True when paths can name a drive by letter and colon ("C:").
bool PathsHaveDriveLetters();

// The longest full path, in characters, that the platform opens: 259 on
// Windows (MAX_PATH with its terminating zero; Wine lets longer ones
// through, Windows does not), PATH_MAX - 1 on POSIX.
int32_t LongestFullPath();

// The length of the current folder's full path in the characters that
// LongestFullPath counts: UTF-16 units on Windows (GetCurrentDirectoryW),
// bytes on POSIX. 0 when it cannot be had.
int32_t CurrentFolderLength();

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_FILE_H_
