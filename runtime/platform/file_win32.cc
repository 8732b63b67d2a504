#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/platform/file.h"
#include "runtime/platform/held_folder_win32.h"
#include "runtime/platform/mutex.h"
#include "runtime/platform/owner_rule_win32.h"

namespace runtime::platform {

static_assert(kGenericRead == GENERIC_READ);
static_assert(kGenericWrite == GENERIC_WRITE);
static_assert(kFileAppendData == FILE_APPEND_DATA);
static_assert(kFileShareRead == FILE_SHARE_READ);
static_assert(kFileShareWrite == FILE_SHARE_WRITE);
static_assert(static_cast<DWORD>(FileDisposition::kCreateNew) == CREATE_NEW);
static_assert(static_cast<DWORD>(FileDisposition::kCreateAlways) == CREATE_ALWAYS);
static_assert(static_cast<DWORD>(FileDisposition::kOpenExisting) == OPEN_EXISTING);
static_assert(static_cast<DWORD>(FileDisposition::kOpenAlways) == OPEN_ALWAYS);
static_assert(static_cast<DWORD>(FileDisposition::kTruncateExisting) == TRUNCATE_EXISTING);
static_assert(kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kFileAttributeDevice == FILE_ATTRIBUTE_DEVICE);
static_assert(kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);
static_assert(static_cast<DWORD>(SeekOrigin::kCurrent) == FILE_CURRENT);
static_assert(static_cast<DWORD>(SeekOrigin::kEnd) == FILE_END);

namespace {

HANDLE Win32Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Handles opened for appending only. Windows appends through such a handle
// atomically, but Wine finds the end and then writes there, so two
// processes appending at once can overwrite each other's bytes. Every
// write through these handles therefore also holds an exclusive lock on one
// byte far beyond any content: appenders take turns, and nobody reading or
// writing the file's real bytes is ever held up by it.
Mutex appenders_lock;
std::vector<HANDLE> appenders;

constexpr DWORD kTurnOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kTurnOffsetLow = 0xFFFFFF00;

// How long an appender waits for its turn. Some backup and log-viewing
// programs lock a whole file for as long as they like; a weighing must not
// wait for them.
constexpr DWORD kTurnWaitMs = 1000;
constexpr DWORD kTurnRetryMs = 10;

// Takes the turn-taking byte, waiting about kTurnWaitMs at most. True when
// this handle holds it.
bool TakeTurn(HANDLE file, OVERLAPPED* turn) {
  const DWORD started = GetTickCount();
  while (true) {
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, turn)) {
      return true;
    }
    // Anything but "somebody holds it" means that locks do not work here.
    if (GetLastError() != ERROR_LOCK_VIOLATION) return false;
    // Unsigned difference: right across the tick count's wrap.
    if (GetTickCount() - started >= kTurnWaitMs) return false;
    Sleep(kTurnRetryMs);
  }
}

bool IsAppender(HANDLE file) {
  MutexLock hold(&appenders_lock);
  return std::find(appenders.begin(), appenders.end(), file) != appenders.end();
}

}  // namespace

namespace {

// A held folder: the handle that keeps it in place, and its path with a
// trailing '\' that names in it are opened under (empty for the current
// folder, which Windows itself holds for the process).
struct HeldFolder {
  HANDLE handle;
  std::string prefix;
  // The trusted link that leads to it, held too so that it stays in place.
  HANDLE link = INVALID_HANDLE_VALUE;
};

HeldFolder* Folder(FolderHandle folder) {
  static HeldFolder current{INVALID_HANDLE_VALUE, ""};
  return folder == 0 ? &current : reinterpret_cast<HeldFolder*>(folder);
}

bool IsOneEntry(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string::npos;
}

// True when `truncates` opens empty an existing file.
bool Truncates(FileDisposition disposition) {
  return disposition == FileDisposition::kCreateAlways ||
         disposition == FileDisposition::kTruncateExisting;
}

// True when the handle is a file with more than one name, or a reparse
// point where `links` allows none.
bool RefusedAfterOpen(HANDLE file, LinkRule links, bool one_name) {
  if (links != LinkRule::kNever && !one_name) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return true;
  if (links == LinkRule::kNever && (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return true;
  }
  return one_name && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         information.nNumberOfLinks > 1;
}

// MoveFileExA without MOVEFILE_REPLACE_EXISTING never replaces `to`, and
// MOVEFILE_WRITE_THROUGH returns once the move is on the disk. Tried again a
// few times after a short pause on a sharing or access error (another
// program may hold `from` for a moment), never on "already exists".
bool MoveWritingThrough(const char* from, const char* to) {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = GetLastError();
    const bool transient = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                           error == ERROR_LOCK_VIOLATION;
    if (!transient || attempt == 4) return false;
    Sleep(10u << attempt);
  }
}

// Opens `path` for OpenFileIn.
FileHandle OpenFileHandle(const char* path, uint32_t access, uint32_t share,
                          FileDisposition disposition, uint32_t attributes, LinkRule links,
                          bool one_name) {
  // Opening the reparse point itself never reaches what it points to; a
  // handle that is one is then given up.
  if (links == LinkRule::kNever) attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
  // An open that empties the file would do so before its handle could be
  // looked at: a handle without access looks first, and, sharing everything
  // but deletion, keeps the name on that very file until the real open.
  HANDLE look = INVALID_HANDLE_VALUE;
  if (one_name && Truncates(disposition)) {
    look = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       attributes, nullptr);
    if (look != INVALID_HANDLE_VALUE && RefusedAfterOpen(look, links, one_name)) {
      CloseHandle(look);
      return 0;
    }
  }
  HANDLE file = CreateFileA(path, access, share, nullptr, static_cast<DWORD>(disposition),
                            attributes, nullptr);
  if (look != INVALID_HANDLE_VALUE) CloseHandle(look);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return 0;
  // Only a file on a disk: a device or a pipe under a file's name is no
  // text file of this program.
  if (GetFileType(file) != FILE_TYPE_DISK || RefusedAfterOpen(file, links, one_name)) {
    CloseHandle(file);
    return 0;
  }
  if ((access & kFileAppendData) != 0 && (access & kGenericWrite) == 0) {
    MutexLock hold(&appenders_lock);
    appenders.push_back(file);
  }
  return reinterpret_cast<FileHandle>(file);
}

}  // namespace

FileHandle OpenFileIn(FolderHandle folder, const char* name, uint32_t access, uint32_t share,
                      FileDisposition disposition, uint32_t attributes, LinkRule links,
                      bool one_name) {
  if (!IsOneEntry(name)) return 0;
  const std::string path = Folder(folder)->prefix + name;
  return OpenFileHandle(path.c_str(), access, share, disposition, attributes, links, one_name);
}

int64_t QueryOpenFileSize(FileHandle file) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(file), &information)) return -1;
  return (static_cast<int64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
}

FolderHandle HoldCurrentFolder() {
  return reinterpret_cast<FolderHandle>(new HeldFolder{INVALID_HANDLE_VALUE, ""});
}

FolderHandle HoldFolderIn(FolderHandle parent, const char* name, bool create,
                          FolderOutcome* outcome) {
  *outcome = FolderOutcome::kFailed;
  if (!IsOneEntry(name)) return 0;
  const std::string path = Folder(parent)->prefix + name;
  // Made only when nothing has the name; an existing one is simply held.
  if (create) CreateDirectoryA(path.c_str(), nullptr);
  // Without delete sharing nobody can rename, remove or replace the folder
  // while it is held; the reparse point itself is opened, never followed.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      *outcome = FolderOutcome::kMissing;
    }
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) {
    CloseHandle(handle);
    return 0;
  }
  HANDLE link = INVALID_HANDLE_VALUE;
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A junction or symbolic link is followed only when its owner could
    // change the folder it leads to anyway.
    OwnerClass owner;
    if (!QueryHandleOwner(handle, &owner) || !IsTrustedOwner(owner)) {
      CloseHandle(handle);
      *outcome = FolderOutcome::kUntrusted;
      return 0;
    }
    link = handle;
    handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information)) {
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
      CloseHandle(link);
      return 0;
    }
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(handle);
    if (link != INVALID_HANDLE_VALUE) CloseHandle(link);
    return 0;
  }
  *outcome = FolderOutcome::kHeld;
  return reinterpret_cast<FolderHandle>(new HeldFolder{handle, path + "\\", link});
}

FolderHandle HoldFolderForLookingIn(FolderHandle parent, const char* name) {
  if (!IsOneEntry(name)) return 0;
  const std::string path = Folder(parent)->prefix + name;
  // The name itself, never followed; held without delete sharing as
  // HoldFolderIn does, so the path keeps reaching this very folder.
  HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(handle);
    return 0;
  }
  return reinterpret_cast<FolderHandle>(new HeldFolder{handle, path + "\\"});
}

void ReleaseFolder(FolderHandle folder) {
  if (folder == 0) return;
  HeldFolder* held = Folder(folder);
  if (held->handle != INVALID_HANDLE_VALUE) CloseHandle(held->handle);
  if (held->link != INVALID_HANDLE_VALUE) CloseHandle(held->link);
  delete held;
}

bool FlushFolder(FolderHandle /*folder*/) { return true; }

EntryFacts InspectEntryIn(FolderHandle folder, const char* name, LinkRule links) {
  EntryFacts facts;
  if (!IsOneEntry(name)) return facts;
  const std::string path = Folder(folder)->prefix + name;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) facts.kind = EntryKind::kMissing;
    return facts;
  }
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (link && links == LinkRule::kNever) {
    facts.kind = EntryKind::kTrustedLink;
    return facts;
  }
  // Without any access: nothing is read or written, and whatever has the
  // file open keeps it.
  HANDLE look = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (look == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (link && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
      facts.kind = EntryKind::kMissing;
      facts.through_link = true;
    }
    return facts;
  }
  facts.through_link = link;
  BY_HANDLE_FILE_INFORMATION information;
  const DWORD type = GetFileType(look);
  if (type == FILE_TYPE_CHAR) {
    facts.kind = EntryKind::kCharacterDevice;
  } else if (type == FILE_TYPE_PIPE) {
    facts.kind = EntryKind::kFifo;
  } else if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(look, &information)) {
    facts.kind = EntryKind::kOther;
  } else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    facts.kind = EntryKind::kFolder;
  } else {
    facts.kind = EntryKind::kFile;
    facts.size = (static_cast<int64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    facts.links = information.nNumberOfLinks;
  }
  CloseHandle(look);
  return facts;
}

uint32_t QueryEntryAttributesIn(FolderHandle folder, const char* name) {
  if (!IsOneEntry(name)) return kInvalidFileAttributes;
  const DWORD attributes = GetFileAttributesA((Folder(folder)->prefix + name).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return kInvalidFileAttributes;
  // A reparse point is neither a file nor a folder to the caller.
  if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) {
    return kFileAttributeDevice;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kFileAttributeDirectory : kFileAttributeNormal;
}

bool MoveWithoutReplacingIn(FolderHandle folder, const char* from, const char* to) {
  if (!IsOneEntry(from) || !IsOneEntry(to)) return false;
  const std::string prefix = Folder(folder)->prefix;
  return MoveWritingThrough((prefix + from).c_str(), (prefix + to).c_str());
}

bool RemoveFileIn(FolderHandle folder, const char* name) {
  if (!IsOneEntry(name)) return false;
  return DeleteFileA((Folder(folder)->prefix + name).c_str()) != FALSE;
}

int32_t ReadFromFile(FileHandle file, void* destination, int32_t count) {
  DWORD read = 0;
  if (!ReadFile(Win32Handle(file), destination, static_cast<DWORD>(count), &read, nullptr)) {
    return 0;
  }
  return static_cast<int32_t>(read);
}

int32_t WriteToFile(FileHandle file, const void* bytes, int32_t count) {
  DWORD written = 0;
  HANDLE handle = Win32Handle(file);
  if (!IsAppender(handle)) {
    WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr);
    return static_cast<int32_t>(written);
  }
  OVERLAPPED turn{};
  turn.Offset = kTurnOffsetLow;
  turn.OffsetHigh = kTurnOffsetHigh;
  // Without the turn (a file system without locks, or a program that locks
  // the whole file) the write still goes out.
  const bool locked = TakeTurn(handle, &turn);
  WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr);
  if (locked) UnlockFileEx(handle, 0, 1, 0, &turn);
  return static_cast<int32_t>(written);
}

int32_t AppendWhole(FileHandle file, const void* bytes, int32_t count) {
  if (count <= 0) return 0;
  HANDLE handle = Win32Handle(file);
  OVERLAPPED turn{};
  turn.Offset = kTurnOffsetLow;
  turn.OffsetHigh = kTurnOffsetHigh;
  // Within one turn the end before the write is where these bytes begin.
  const bool locked = TakeTurn(handle, &turn);
  LARGE_INTEGER zero{};
  LARGE_INTEGER start{};
  const bool known = GetFileSizeEx(handle, &start) != FALSE;
  DWORD written = 0;
  WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr);
  const bool whole = written == static_cast<DWORD>(count);
  if (!whole && written > 0 && known) {
    // Needs write access beyond appending; where the handle has none, the
    // next line starts on a line of its own instead.
    if (SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
    SetFilePointerEx(handle, zero, nullptr, FILE_END);
  }
  if (locked) UnlockFileEx(handle, 0, 1, 0, &turn);
  return whole ? count : 0;
}

void MoveFilePosition(FileHandle file, int32_t distance, SeekOrigin origin) {
  SetFilePointer(Win32Handle(file), distance, nullptr, static_cast<DWORD>(origin));
}

bool FlushFileToDisk(FileHandle file) { return FlushFileBuffers(Win32Handle(file)) != FALSE; }

void ClearFileError() { SetLastError(ERROR_SUCCESS); }

int32_t LastFileError() { return static_cast<int32_t>(GetLastError()); }

void CloseFileHandle(FileHandle file) {
  HANDLE handle = Win32Handle(file);
  {
    MutexLock hold(&appenders_lock);
    appenders.erase(std::remove(appenders.begin(), appenders.end(), handle), appenders.end());
  }
  CloseHandle(handle);
}

std::string HeldFolderPath(FolderHandle folder, const char* name) {
  const std::string& prefix = Folder(folder)->prefix;
  if (std::string(name) != ".") return prefix + name;
  return prefix.empty() ? std::string(".") : prefix.substr(0, prefix.size() - 1);
}

LinkTrust QueryLinkTrustIn(FolderHandle folder, const char* name) {
  if (!IsOneEntry(name)) return LinkTrust::kNoLink;
  const std::string path = HeldFolderPath(folder, name);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return LinkTrust::kNoLink;
  }
  HANDLE link = CreateFileA(
      path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (link == INVALID_HANDLE_VALUE) return LinkTrust::kUntrusted;
  OwnerClass owner;
  const bool trusted = QueryHandleOwner(link, &owner) && IsTrustedOwner(owner);
  CloseHandle(link);
  return trusted ? LinkTrust::kTrusted : LinkTrust::kUntrusted;
}

bool PathsHaveDriveLetters() { return true; }

int32_t LongestFullPath() { return MAX_PATH - 1; }

int32_t CurrentFolderLength() {
  // Asked for the room it needs, it counts the terminating zero too.
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  return size > 0 ? static_cast<int32_t>(size - 1) : 0;
}

}  // namespace runtime::platform
