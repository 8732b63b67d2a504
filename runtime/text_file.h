#ifndef WEIGH_RUNTIME_TEXT_FILE_H_
#define WEIGH_RUNTIME_TEXT_FILE_H_

#include <cstdint>

#include "runtime/object_table.h"
#include "runtime/platform/file.h"

namespace runtime {

class Text;

// The buffer size every buffered file gets at open.
constexpr int32_t FILE_BUFFER_SIZE = 4096;

// Open options, a bit set. Share reading with other opens of the file.
constexpr int32_t OPTION_SHARE_READ = 1;
// OpenForUpdate only: share reading and writing with other opens.
constexpr int32_t OPTION_SHARE_WRITE = 2;
// The file gets no buffer: every read and write is a platform call.
constexpr int32_t OPTION_NO_BUFFER = 4;
// OpenForUpdate only: every write-out lands at the end of the file.
constexpr int32_t OPTION_APPEND = 8;
// Never open through a link at the entry: a symbolic link
// there (on Windows any reparse point, a junction too) makes the open fail.
constexpr int32_t OPTION_NO_LINK = 16;
// Go through a link at the entry only when it belongs to
// the user this program runs as or to root (see platform::LinkRule).
constexpr int32_t OPTION_TRUSTED_LINK = 32;
// Refuse a file that has more than one name (a hard link): another name may
// be someone else's way to a file this user must not read or write. Checked
// before anything is read, written or emptied.
constexpr int32_t OPTION_ONE_NAME = 64;

// The buffer holds bytes not yet written.
constexpr int32_t WRITE_MODE = 0;
// The buffer holds bytes read ahead.
constexpr int32_t READ_MODE = 1;

// One open text file. In WRITE_MODE the pending bytes are the first
// bufferSize - available bytes of the buffer, and the platform's position is
// that many bytes behind the logical one. In READ_MODE the unread bytes are
// the `available` bytes ending at offset `filled`, and the platform's
// position is `available` bytes ahead of the logical one.
struct TextFile {
  platform::FileHandle handle;  // first: non-zero while open (the table's liveness test)
  uint8_t* buffer;              // nullptr for an unbuffered file
  int32_t bufferSize;
  int32_t available;
  int32_t filled;
  int32_t mode;
};

// Makes the file table. Runs once at start, before any other file operation.
void StartFiles();

// Closes every open file, writing out buffered bytes first. Runs at stop.
void CloseAllFiles();

using platform::FolderHandle;
using platform::FolderOutcome;

// Holds the current folder open; names given with it are its entries (see
// platform::FolderHandle). Release it with ReleaseFolder.
FolderHandle HoldCurrentFolder();

// Holds the folder `name` (one component) in `parent`, making it first with
// `create` when nothing has the name; links on the way are followed only
// when they are this user's or root's, and the folder must be too (see
// platform::HoldFolderIn). Returns 0, with the reason in `outcome`, when it
// is not held.
FolderHandle HoldFolder(FolderHandle parent, const Text& name, bool create, FolderOutcome* outcome);

// Lets go of a held folder; 0 is ignored.
void ReleaseFolder(FolderHandle folder);

// Holds the folder `name` of `parent` only to look at its entries, whoever
// owns it, a link under the name never followed (see
// platform::HoldFolderForLookingIn); 0 when it is no folder. Release it with
// ReleaseFolder.
FolderHandle HoldFolderForLooking(FolderHandle parent, const Text& name);

// Puts the folder's entries on the disk. Returns non-zero when they got
// there.
int32_t FlushFolder(FolderHandle folder);

// Gives the closed file `from` in `folder` the name `to` there unless
// something has that name already, which is never replaced; a reader of `to`
// sees the whole file or nothing. The folder is flushed afterwards. Returns
// non-zero when the file was moved, 0 otherwise (`from` is then left where
// it was).
int32_t MoveFileWithoutReplacing(FolderHandle folder, const Text& from, const Text& to);

// Removes the file `name` in `folder`. Returns non-zero when it was removed.
int32_t RemoveFile(FolderHandle folder, const Text& name);

// What an entry is.
enum class PathKind {
  kNothing,    // no such file or directory, or it cannot be looked at
  kFile,       // a plain file
  kDirectory,  // a directory
  kDevice,     // anything else: a device, a FIFO, a socket
};

// Returns what the entry `name` of `folder` is; a symbolic link (any reparse
// point on Windows) counts as kDevice, neither a file nor a folder.
PathKind QueryEntryKind(FolderHandle folder, const Text& name);

using platform::EntryFacts;
using platform::EntryKind;

// Tells what an open of the entry `name` of `folder` with `options`
// (OPTION_NO_LINK, OPTION_TRUSTED_LINK, or neither for any link) would meet
// there, without opening, creating or changing anything (see
// platform::InspectEntryIn). The opens of this file layer accept only
// kFile, and kMissing where they create.
EntryFacts InspectEntry(FolderHandle folder, const Text& name, int32_t options);

using platform::CurrentFolderLength;
using platform::LinkTrust;
using platform::LongestFullPath;

// Tells whether the entry `name` of the held `folder` is a link, and whether
// it is one of this user or root, without following it (see
// platform::QueryLinkTrustIn).
LinkTrust QueryLinkTrust(FolderHandle folder, const Text& name);

// Creates the entry `name` of the held `folder`, or empties an existing
// file there, for reading and writing; others may read it meanwhile.
// `options`: OPTION_NO_LINK or OPTION_TRUSTED_LINK, OPTION_ONE_NAME. Returns
// the platform handle under a number, the new identity for AUTO_NUMBER, 0 on
// failure. Reusing a number closes its file first, whatever the outcome.
ObjectValue CreateTextFile(ObjectValue number, FolderHandle folder, const Text& name,
                           int32_t options);

// Creates the new entry `name` of the held `folder` for reading and
// writing; others may read it meanwhile. Fails when anything has the name
// already, and never follows a symbolic link there, so a link planted under
// the name cannot redirect what is written. Returns as CreateTextFile.
ObjectValue CreateNewTextFile(ObjectValue number, FolderHandle folder, const Text& name);

// Opens the entry `name` of the held `folder` for reading and writing at
// offset 0, creating it empty when missing. `options`: OPTION_SHARE_READ lets
// others read it meanwhile, OPTION_SHARE_WRITE also write it, neither keeps
// everyone out; OPTION_NO_BUFFER; OPTION_APPEND makes every write-out land at
// the end of the file as it is at that moment; OPTION_NO_LINK or
// OPTION_TRUSTED_LINK, OPTION_ONE_NAME. Returns as CreateTextFile.
ObjectValue OpenForUpdate(ObjectValue number, FolderHandle folder, const Text& name,
                          int32_t options);

// Tells whether OpenForUpdate with `options` would open the existing entry
// `name` of the held `folder`, by that very open, closed again at once: it
// judges links, second names and the kind of entry as the open does, and
// never creates a file. Returns 0 when it opened; otherwise the system's code
// for why not (errno; GetLastError() on Windows), or -1 where none was given.
int32_t ProbeForUpdate(FolderHandle folder, const Text& name, int32_t options);

// Opens the existing entry `name` of the held `folder` for reading.
// `options`: OPTION_SHARE_READ lets others read it meanwhile (otherwise
// nobody may open it), OPTION_SHARE_WRITE also write it, OPTION_NO_BUFFER,
// OPTION_NO_LINK or OPTION_TRUSTED_LINK, OPTION_ONE_NAME. Returns as
// CreateTextFile; 0 for a missing file.
ObjectValue OpenForReading(ObjectValue number, FolderHandle folder, const Text& name,
                           int32_t options);

// Writes out the buffered bytes of the file under `value` and returns its
// size in bytes; -1 when that write fails or no file is open under it.
int64_t QueryOpenFileSize(ObjectValue value);

// Returns non-zero when `value` denotes an open file. Safe for any value;
// AUTO_NUMBER gives 0.
ObjectValue IsFileOpen(ObjectValue value);

// Reads the next line and returns it without its line end (CR LF, LF or CR
// alone; a zero byte also ends a line and is dropped). The end of the file
// and an empty line both give the empty text, as does a value under which
// no file is open.
Text ReadLine(ObjectValue value);

// Reads the next line as ReadLine does, but keeps at most `maxLength` bytes
// of it and reads no further: the rest of a longer line stays unread. A
// line as long as a whole file costs neither the time nor the memory.
Text ReadLine(ObjectValue value, int32_t maxLength);

// Reads up to `count` bytes at the file's position into `destination`,
// byte for byte. Returns how many were read: fewer only at the end of the
// file, 0 when no file is open under `value`.
int32_t ReadBytes(ObjectValue value, void* destination, int32_t count);

// Writes the bytes of `text` and CR LF. Returns the bytes accepted (the
// text's length plus 2), 0 when no file is open under `value`.
int32_t WriteLine(ObjectValue value, const Text& text);

// Appends the bytes of `text` and CR LF at the end of the file under `value`
// as one piece, right after its last byte, after writing out its buffered
// bytes: returns non-zero when the whole line landed. When only part of it
// could (a full disk, a file size limit), the file is cut back to where the
// line began, so that the next line does not continue a broken one, and 0 is
// returned (see platform::AppendWhole for where the cut is left out). The
// file must be open with OPTION_APPEND.
int32_t AppendLine(ObjectValue value, const Text& text);

// Writes out the buffered bytes of the file under `value`, then has the
// platform put everything written to it on the disk. Returns non-zero when
// all of it got there; 0 when a write or the flush failed, or no file is
// open under `value`.
int32_t FlushToDisk(ObjectValue value);

// Closes the file under `value`, or every file for AUTO_NUMBER, writing out
// its buffered bytes first. Does nothing when no file is open under it.
void CloseTextFile(ObjectValue value);

// Writes out the pending bytes of a file in WRITE_MODE and empties its
// buffer; does nothing in READ_MODE. Returns the bytes the platform accepted.
int32_t FlushFileBuffer(TextFile* file);

// Delivers up to `count` bytes at the logical position through the buffer,
// refilling it as needed. Returns the bytes delivered.
int32_t BufferedRead(TextFile* file, void* destination, int32_t count);

// Writes `count` bytes at the logical position through the buffer; the
// buffer never stays completely full. Returns the bytes accepted.
int32_t BufferedWrite(TextFile* file, const void* source, int32_t count);

}  // namespace runtime

#endif  // WEIGH_RUNTIME_TEXT_FILE_H_
