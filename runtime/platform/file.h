#ifndef WEIGH_RUNTIME_PLATFORM_FILE_H_
#define WEIGH_RUNTIME_PLATFORM_FILE_H_

// Files and folders. Every file of a weighing is reached as an entry of a
// held folder (FolderHandle): a name given with a folder is one entry of it,
// never a path, so no name can lead out of the folder. Links on the way are
// followed one at a time, each under the owner rule of LinkRule. Only a
// regular file is ever opened as a file. There is no way to a file by a
// path: serial devices and the program's own folder, which are no files of
// a weighing, are reached elsewhere.
//
// Share modes follow Windows' rule on both platforms: a second open is
// refused when it wants an access that an open already there does not
// share, or does not share an access that one already there has (POSIX
// emulates this among the opens made through this layer, in every process).
// Files are created with mode 0666 under the umask on POSIX.

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

// Which links an open or an inspection goes through to reach a file entry.
// A link is followed hop by hop: its target is taken from the very link
// whose owner was checked, and every link met in the target (a folder on the
// way or the last name) is judged by the same rule, up to 40 hops in all;
// more hops, or a link that leads back to itself, end in a refusal.
// Trusted owners: POSIX the user this process runs as and root (the rule
// the kernel's protected_symlinks applies in sticky folders); Windows keeps
// no owner rule for links to files, so kTrusted follows as kAny does there.
enum class LinkRule {
  kAny,      // follow every link
  kNever,    // follow none
  kTrusted,  // follow only links of trusted owners
};

// What an entry of a held folder is, as an open of it would find it.
enum class EntryKind {
  kMissing,          // nothing there; a create would make a regular file
  kFile,             // a regular file
  kFolder,           // a folder
  kTrustedLink,      // under LinkRule::kNever: a link of a trusted owner
  kUntrustedLink,    // a link of another user, at the entry or on the way
  kCharacterDevice,  // a character device (a terminal, /dev/null, NUL)
  kFifo,             // a named pipe
  kOther,            // anything else: a socket, a block device
  kUnreachable,      // the way is broken: a loop, too many links, a folder
                     // on the way missing or refused, a name that is no
                     // single entry
};

// What InspectEntryIn found.
struct EntryFacts {
  EntryKind kind = EntryKind::kUnreachable;
  // At least one trusted link was followed to reach it.
  bool through_link = false;
  // A regular file's size in bytes and its number of names (hard links);
  // -1 and 0 for anything else.
  int64_t size = -1;
  uint32_t links = 0;
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

// Holds the folder `name` (one component) of `parent` only to look at who
// owns its entries and what they are, whoever owns the folder itself: a
// link or reparse point under the name is never followed, and nothing is
// ever to be opened, made or changed in it. Returns 0 when the name is no
// folder of `parent`. Release it with ReleaseFolder.
FolderHandle HoldFolderForLookingIn(FolderHandle parent, const char* name);

// Lets go of a held folder.
void ReleaseFolder(FolderHandle folder);

// Puts the folder's entries (new, moved and removed names) on the disk.
// Returns false when the platform could not. Windows: nothing to do, as NTFS
// journals names and MoveWithoutReplacingIn writes through.
bool FlushFolder(FolderHandle folder);

// Opens or creates the entry `name` of the held `folder` with `access`
// (kGeneric* and kFileAppendData bits), `share` (kFileShare* bits) and
// `disposition`, following links on the way as `links` allows (kCreateNew
// follows none: anything already under the name, a dangling link included,
// makes it fail). Only a regular file opens: a folder, a device, a FIFO, a
// socket or a link that `links` does not allow is refused before anything is
// opened, and what the open then reaches is checked to be that very regular
// file before anything is read, written or emptied. `name` must be one entry:
// a name with '/' ('\' too on Windows), "." or ".." is refused and nothing
// is made. With `one_name` a file that has more than one name (a hard link)
// is refused too: another name may be someone else's way to a file this user
// must not touch. Returns 0 on any refusal, on a sharing conflict, a missing
// file that `disposition` does not create, or denied access.
FileHandle OpenFileIn(FolderHandle folder, const char* name, uint32_t access, uint32_t share,
                      FileDisposition disposition, uint32_t attributes, LinkRule links,
                      bool one_name);

// Tells what the entry `name` of `folder` is without opening, creating or
// changing anything: what OpenFileIn with the same `links` would meet there,
// following trusted links hop by hop as it does. A link that `links` does not
// follow is reported as such (kTrustedLink or kUntrustedLink), never as what
// it leads to. Another process may change the entry right after; OpenFileIn
// checks again for itself.
EntryFacts InspectEntryIn(FolderHandle folder, const char* name, LinkRule links);

// What is the entry `name` of `folder`, a link not followed: exactly one of
// kFileAttributeDirectory, kFileAttributeNormal (a regular file) and
// kFileAttributeDevice (anything else, a link or reparse point included), or
// kInvalidFileAttributes when there is nothing or the name is no single
// entry.
uint32_t QueryEntryAttributesIn(FolderHandle folder, const char* name);

// Gives the closed regular file `from` in the held `folder` the name `to`
// there, but only while nothing has that name: an existing `to` is never
// replaced, and a reader of `to` never sees it empty or half written, also
// on file systems without hard links. Neither name is followed as a link.
// Returns true when the file was moved, after the folder's entries were
// flushed to the disk (a failed folder flush still returns true: the move
// happened); false when `to` exists or the platform refused, with `from`
// left as it was. Flush the file's content before the move, or a power cut
// may leave `to` present but empty.
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

// Appends `count` bytes at the end of the file in one piece: returns `count`
// when all of them landed, and otherwise cuts the file back to where they
// began, so that no part of them stays, and returns 0. `file` must be open
// for appending and reading. The cut is left out where another append came
// after these bytes (its line stays), and on Windows where the handle may
// only append; a reader then finds the partial bytes without a line end.
int32_t AppendWhole(FileHandle file, const void* bytes, int32_t count);

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

// Forgets the system's code of an earlier failure on this thread, so that
// LastFileError tells of the calls that follow.
void ClearFileError();

// The system's code for why the last failed file call of this thread failed
// (errno; GetLastError() on Windows); 0 when none was given.
int32_t LastFileError();

// Tells whether the entry `name` of the held `folder` is a link, and whose,
// without following it. POSIX: a symbolic link, trusted when it belongs to
// the user this process runs as or to root. Windows: any reparse point (a
// symbolic link, a junction) is a link, trusted when its owner is this user,
// Administrators, SYSTEM or TrustedInstaller. A name that is no single entry
// is no link.
LinkTrust QueryLinkTrustIn(FolderHandle folder, const char* name);

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
