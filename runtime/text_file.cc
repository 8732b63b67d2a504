#include "runtime/text_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/program_heap.h"
#include "runtime/text.h"

namespace runtime {
namespace {

using platform::FileDisposition;

ObjectTable* file_table = nullptr;

// How one open asks the platform for the file.
struct OpenRequest {
  uint32_t access;
  uint32_t share;
  FileDisposition disposition;
  uint32_t attributes;
  platform::LinkRule links = platform::LinkRule::kAny;
  bool one_name = false;
};

// Opens `name` in the held `folder` as `request` asks. A folder is never 0:
// that is no held folder.
platform::FileHandle OpenAsAsked(FolderHandle folder, const Text& name,
                                 const OpenRequest& request) {
  if (folder == 0) return 0;
  return platform::OpenFileIn(folder, name.c_str(), request.access, request.share,
                              request.disposition, request.attributes, request.links,
                              request.one_name);
}

bool OneNameOf(int32_t options) { return (options & OPTION_ONE_NAME) != 0; }

platform::LinkRule LinkRuleOf(int32_t options) {
  if (options & OPTION_NO_LINK) return platform::LinkRule::kNever;
  if (options & OPTION_TRUSTED_LINK) return platform::LinkRule::kTrusted;
  return platform::LinkRule::kAny;
}

TextFile* FindFile(ObjectValue value) {
  return file_table == nullptr ? nullptr
                               : static_cast<TextFile*>(FindLiveRecord(file_table, value));
}

// Takes the number (closing whatever had it) or a new identity, then opens
// the file with `first`, and with `second` when that fails.
ObjectValue OpenTextFile(ObjectValue number, FolderHandle folder, const Text& path,
                         const OpenRequest& first, const OpenRequest* second, bool buffered,
                         bool to_end) {
  if (file_table == nullptr) return 0;
  auto* file = static_cast<TextFile*>(ObtainRecord(file_table, number));
  if (file == nullptr) return 0;
  platform::FileHandle handle = OpenAsAsked(folder, path, first);
  if (handle == 0 && second != nullptr) handle = OpenAsAsked(folder, path, *second);
  if (handle == 0) {
    if (number == AUTO_NUMBER) ReleaseRecord(file_table, reinterpret_cast<ObjectValue>(file));
    return 0;
  }
  // Without memory for a buffer the file still works, one platform call per
  // read or write.
  file->buffer = buffered ? static_cast<uint8_t*>(ProgramHeapAlloc(FILE_BUFFER_SIZE)) : nullptr;
  file->handle = handle;
  file->bufferSize = FILE_BUFFER_SIZE;
  file->available = 0;
  file->filled = 0;
  file->mode = READ_MODE;
  if (to_end) platform::MoveFilePosition(handle, 0, platform::SeekOrigin::kEnd);
  return number == AUTO_NUMBER ? reinterpret_cast<ObjectValue>(file) : handle;
}

int32_t ReadByte(TextFile* file, uint8_t* byte) {
  return file->buffer != nullptr ? BufferedRead(file, byte, 1)
                                 : platform::ReadFromFile(file->handle, byte, 1);
}

// Hands the byte just read back, so that the next read starts with it.
void UnreadByte(TextFile* file) {
  if (file->buffer != nullptr) {
    ++file->available;
  } else {
    platform::MoveFilePosition(file->handle, -1, platform::SeekOrigin::kCurrent);
  }
}

int32_t WriteBytes(TextFile* file, const void* bytes, int32_t count) {
  return file->buffer != nullptr ? BufferedWrite(file, bytes, count)
                                 : platform::WriteToFile(file->handle, bytes, count);
}

}  // namespace

void StartFiles() { file_table = CreateObjectTable(sizeof(TextFile), 16, CloseTextFile); }

void CloseAllFiles() {
  if (file_table != nullptr) CloseAllObjects(file_table);
}

FolderHandle HoldCurrentFolder() { return platform::HoldCurrentFolder(); }

FolderHandle HoldFolder(FolderHandle parent, const Text& name, bool create,
                        FolderOutcome* outcome) {
  return platform::HoldFolderIn(parent, name.c_str(), create, outcome);
}

void ReleaseFolder(FolderHandle folder) { platform::ReleaseFolder(folder); }

FolderHandle HoldFolderForLooking(FolderHandle parent, const Text& name) {
  return platform::HoldFolderForLookingIn(parent, name.c_str());
}

int32_t FlushFolder(FolderHandle folder) { return platform::FlushFolder(folder) ? 1 : 0; }

int32_t MoveFileWithoutReplacing(FolderHandle folder, const Text& from, const Text& to) {
  return platform::MoveWithoutReplacingIn(folder, from.c_str(), to.c_str()) ? 1 : 0;
}

int32_t RemoveFile(FolderHandle folder, const Text& name) {
  return platform::RemoveFileIn(folder, name.c_str()) ? 1 : 0;
}

PathKind QueryEntryKind(FolderHandle folder, const Text& name) {
  const uint32_t attributes = platform::QueryEntryAttributesIn(folder, name.c_str());
  if (attributes == platform::kInvalidFileAttributes) return PathKind::kNothing;
  if (attributes & platform::kFileAttributeDirectory) return PathKind::kDirectory;
  if (attributes & platform::kFileAttributeDevice) return PathKind::kDevice;
  return PathKind::kFile;
}

EntryFacts InspectEntry(FolderHandle folder, const Text& name, int32_t options) {
  return platform::InspectEntryIn(folder, name.c_str(), LinkRuleOf(options));
}

LinkTrust QueryLinkTrust(FolderHandle folder, const Text& name) {
  return platform::QueryLinkTrustIn(folder, name.c_str());
}

namespace {

// Creates or empties `name` in the held `folder` for writing.
ObjectValue CreateOrEmpty(ObjectValue number, FolderHandle folder, const Text& name,
                          int32_t options) {
  const OpenRequest first{platform::kGenericRead | platform::kGenericWrite,
                          platform::kFileShareRead,
                          FileDisposition::kCreateAlways,
                          platform::kFileAttributeNormal,
                          LinkRuleOf(options),
                          OneNameOf(options)};
  // An existing file that refuses to be replaced (hidden, or not readable)
  // may still be emptied for writing.
  const OpenRequest second{
      platform::kGenericWrite, platform::kFileShareRead, FileDisposition::kTruncateExisting, 0,
      LinkRuleOf(options),     OneNameOf(options)};
  return OpenTextFile(number, folder, name, first, &second, true, false);
}

}  // namespace

ObjectValue CreateTextFile(ObjectValue number, FolderHandle folder, const Text& name,
                           int32_t options) {
  return CreateOrEmpty(number, folder, name, options);
}

ObjectValue CreateNewTextFile(ObjectValue number, FolderHandle folder, const Text& name) {
  const OpenRequest request{platform::kGenericRead | platform::kGenericWrite,
                            platform::kFileShareRead, FileDisposition::kCreateNew,
                            platform::kFileAttributeNormal, platform::LinkRule::kNever};
  return OpenTextFile(number, folder, name, request, nullptr, true, false);
}

namespace {

// The open of OpenForUpdate and ProbeForUpdate with `options`.
OpenRequest UpdateRequest(int32_t options) {
  uint32_t share = 0;
  if (options & OPTION_SHARE_READ) share = platform::kFileShareRead;
  if (options & OPTION_SHARE_WRITE) share = platform::kFileShareRead | platform::kFileShareWrite;
  // Appending asks for append-only writing instead of plain writing: every
  // write-out then lands at the end of the file as it is at that moment, so
  // runs that log at the same time never overwrite each other's lines. The
  // move to the end in OpenTextFile still places the first read there.
  const uint32_t access = (options & OPTION_APPEND) != 0
                              ? platform::kGenericRead | platform::kFileAppendData
                              : platform::kGenericRead | platform::kGenericWrite;
  return OpenRequest{access,
                     share,
                     FileDisposition::kOpenAlways,
                     platform::kFileAttributeNormal,
                     LinkRuleOf(options),
                     OneNameOf(options)};
}

}  // namespace

ObjectValue OpenForUpdate(ObjectValue number, FolderHandle folder, const Text& path,
                          int32_t options) {
  return OpenTextFile(number, folder, path, UpdateRequest(options), nullptr,
                      (options & OPTION_NO_BUFFER) == 0, (options & OPTION_APPEND) != 0);
}

int32_t ProbeForUpdate(FolderHandle folder, const Text& name, int32_t options) {
  OpenRequest request = UpdateRequest(options);
  request.disposition = FileDisposition::kOpenExisting;
  platform::ClearFileError();
  const platform::FileHandle file = OpenAsAsked(folder, name, request);
  if (file == 0) {
    const int32_t code = platform::LastFileError();
    return code != 0 ? code : -1;
  }
  platform::CloseFileHandle(file);
  return 0;
}

ObjectValue OpenForReading(ObjectValue number, FolderHandle folder, const Text& path,
                           int32_t options) {
  uint32_t share = 0;
  if (options & OPTION_SHARE_READ) share |= platform::kFileShareRead;
  if (options & OPTION_SHARE_WRITE) share |= platform::kFileShareWrite;
  const OpenRequest request{platform::kGenericRead,
                            share,
                            FileDisposition::kOpenExisting,
                            platform::kFileAttributeNormal,
                            LinkRuleOf(options),
                            OneNameOf(options)};
  return OpenTextFile(number, folder, path, request, nullptr, (options & OPTION_NO_BUFFER) == 0,
                      false);
}

int64_t QueryOpenFileSize(ObjectValue value) {
  TextFile* file = FindFile(value);
  if (file == nullptr) return -1;
  // The pending count is taken before the write-out resets it.
  const int32_t pending = file->bufferSize - file->available;
  if (file->buffer != nullptr && file->mode == WRITE_MODE && FlushFileBuffer(file) != pending) {
    return -1;
  }
  return platform::QueryOpenFileSize(file->handle);
}

ObjectValue IsFileOpen(ObjectValue value) {
  return file_table == nullptr ? 0 : IsLiveObject(file_table, value);
}

Text ReadLine(ObjectValue value) { return ReadLine(value, INT32_MAX); }

Text ReadLine(ObjectValue value, int32_t maxLength) {
  TextFile* file = FindFile(value);
  if (file == nullptr) return Text();
  std::string line;
  line.reserve(FILE_BUFFER_SIZE);
  uint8_t byte;
  while (static_cast<int64_t>(line.size()) < maxLength && ReadByte(file, &byte) == 1 && byte != 0 &&
         byte != '\n') {
    if (byte == '\r') {
      // CR LF is one line end; after a lone CR the next line starts with
      // whatever followed it.
      uint8_t next;
      if (ReadByte(file, &next) == 1 && next != '\n') UnreadByte(file);
      break;
    }
    line.push_back(static_cast<char>(byte));
  }
  return Text(line);
}

int32_t ReadBytes(ObjectValue value, void* destination, int32_t count) {
  TextFile* file = FindFile(value);
  if (file == nullptr) return 0;
  auto* out = static_cast<uint8_t*>(destination);
  int32_t total = 0;
  while (total < count) {
    const int32_t got = BufferedRead(file, out + total, count - total);
    if (got <= 0) break;
    total += got;
  }
  return total;
}

int32_t AppendLine(ObjectValue value, const Text& text) {
  TextFile* file = FindFile(value);
  if (file == nullptr) return 0;
  const int32_t pending = file->bufferSize - file->available;
  if (file->buffer != nullptr && file->mode == WRITE_MODE && FlushFileBuffer(file) != pending) {
    return 0;
  }
  // One piece for the platform: bytes of the line can then only land
  // together, or be taken back together.
  std::string line(text.view());
  line.append("\r\n");
  const auto count = static_cast<int32_t>(line.size());
  return platform::AppendWhole(file->handle, line.data(), count) == count ? 1 : 0;
}

int32_t WriteLine(ObjectValue value, const Text& text) {
  TextFile* file = FindFile(value);
  if (file == nullptr) return 0;
  int32_t accepted = 0;
  if (!text.empty()) accepted += WriteBytes(file, text.data(), text.size());
  accepted += WriteBytes(file, "\r\n", 2);
  return accepted;
}

void CloseTextFile(ObjectValue value) {
  if (file_table == nullptr) return;
  if (value == AUTO_NUMBER) {
    CloseAllObjects(file_table);
    return;
  }
  TextFile* file = FindFile(value);
  if (file == nullptr) return;
  if (file->buffer != nullptr) {
    FlushFileBuffer(file);
    ProgramHeapFree(file->buffer);
  }
  platform::CloseFileHandle(file->handle);
  ReleaseRecord(file_table, value);
}

int32_t FlushToDisk(ObjectValue value) {
  TextFile* file = FindFile(value);
  if (file == nullptr) return 0;
  bool written = true;
  if (file->buffer != nullptr && file->mode == WRITE_MODE) {
    const int32_t pending = file->bufferSize - file->available;
    written = FlushFileBuffer(file) == pending;
  }
  // Flushed even after a failed write: what did get written is worth keeping.
  const bool flushed = platform::FlushFileToDisk(file->handle);
  return written && flushed ? 1 : 0;
}

int32_t FlushFileBuffer(TextFile* file) {
  if (file->mode != WRITE_MODE || file->buffer == nullptr) return 0;
  int32_t written =
      platform::WriteToFile(file->handle, file->buffer, file->bufferSize - file->available);
  file->available = file->bufferSize;
  return written;
}

int32_t BufferedRead(TextFile* file, void* destination, int32_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(destination);
  if (file->buffer == nullptr) return platform::ReadFromFile(file->handle, out, count);
  if (file->mode == WRITE_MODE) {
    FlushFileBuffer(file);
    file->mode = READ_MODE;
    file->available = 0;
  }
  const uint8_t* unread = file->buffer + (file->filled - file->available);
  if (file->available >= count) {
    std::memcpy(out, unread, static_cast<std::size_t>(count));
    file->available -= count;
    return count;
  }
  const int32_t copied = file->available;
  if (copied > 0) std::memcpy(out, unread, static_cast<std::size_t>(copied));
  file->available = 0;
  const int32_t rest = count - copied;
  if (rest >= file->bufferSize) {
    return copied + platform::ReadFromFile(file->handle, out + copied, rest);
  }
  const int32_t got = platform::ReadFromFile(file->handle, file->buffer, file->bufferSize);
  file->filled = got;
  file->available = got;
  const int32_t taken = std::min(rest, got);
  if (taken > 0) std::memcpy(out + copied, file->buffer, static_cast<std::size_t>(taken));
  file->available -= taken;
  return copied + taken;
}

int32_t BufferedWrite(TextFile* file, const void* source, int32_t count) {
  if (count <= 0) return 0;
  if (file->buffer == nullptr) return platform::WriteToFile(file->handle, source, count);
  if (file->mode == READ_MODE) {
    // Hand the read-ahead back so that the write lands at the logical
    // position.
    platform::MoveFilePosition(file->handle, -file->available, platform::SeekOrigin::kCurrent);
    file->mode = WRITE_MODE;
    file->available = file->bufferSize;
  }
  if (file->available > count) {
    std::memcpy(file->buffer + (file->bufferSize - file->available), source,
                static_cast<std::size_t>(count));
    file->available -= count;
    return count;
  }
  // Bytes accepted earlier that do not get out now are lost: the caller
  // learns it from this write.
  const int32_t pending = file->bufferSize - file->available;
  if (FlushFileBuffer(file) != pending) return 0;
  if (count >= file->bufferSize) return platform::WriteToFile(file->handle, source, count);
  std::memcpy(file->buffer, source, static_cast<std::size_t>(count));
  file->available -= count;
  return count;
}

}  // namespace runtime
