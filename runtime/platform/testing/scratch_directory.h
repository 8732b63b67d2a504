#ifndef WEIGH_RUNTIME_PLATFORM_TESTING_SCRATCH_DIRECTORY_H_
#define WEIGH_RUNTIME_PLATFORM_TESTING_SCRATCH_DIRECTORY_H_

#include <fstream>
#include <iterator>
#include <string>

namespace runtime::platform {

// For tests: a new, empty directory under the system's temporary directory
// that is the current directory while the object lives. On destruction the
// previous current directory comes back and the directory is removed with
// everything in it.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // True when the directory was made and entered.
  bool ok() const { return ok_; }

  // The directory's absolute path, in the platform's own form.
  const std::string& path() const { return path_; }

 private:
  bool ok_ = false;
  std::string path_;
  std::string previous_;
};

// For tests: while it lives, every write to a regular file beyond its first
// `bytes` bytes fails as on a full disk (a file size limit, with the
// signal it raises ignored). Not every platform can do this.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // True when the limit is in force.
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
  long saved_[2] = {0, 0};
  void (*saved_handler_)(int) = nullptr;
};

// For tests: a user id that no account has, standing for another user.
constexpr unsigned kOtherUserId = 4242;

// For tests: gives the link `path` itself (not what it points to) to
// kOtherUserId, as if another user had planted it. Returns false, with the
// reason in `why_not`, where that cannot be done: without the right to
// give files away (POSIX, not root), or on Windows, which keeps no owner
// rule for links.
bool GiveLinkToOtherUser(const std::string& path, std::string* why_not);

// For tests: the bytes of the file at `path`; empty when it cannot be read.
inline std::string FileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// For tests: makes the file at `path` hold exactly `bytes`.
inline void PutFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_TESTING_SCRATCH_DIRECTORY_H_
