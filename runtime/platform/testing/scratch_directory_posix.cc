#include "runtime/platform/testing/scratch_directory.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace runtime::platform {

ScratchDirectory::ScratchDirectory() {
  char* current = getcwd(nullptr, 0);
  if (current == nullptr) return;
  previous_ = current;
  free(current);
  std::error_code error;
  std::string pattern = (std::filesystem::temp_directory_path(error) / "weigh-XXXXXX").string();
  if (error || mkdtemp(pattern.data()) == nullptr) return;
  path_ = pattern;
  ok_ = chdir(path_.c_str()) == 0;
}

ScratchDirectory::~ScratchDirectory() {
  if (path_.empty()) return;
  if (chdir(previous_.c_str()) != 0) return;
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

FileSizeLimit::FileSizeLimit(long bytes) {
  rlimit old{};
  if (getrlimit(RLIMIT_FSIZE, &old) != 0) return;
  saved_[0] = static_cast<long>(old.rlim_cur);
  saved_[1] = static_cast<long>(old.rlim_max);
  saved_handler_ = signal(SIGXFSZ, SIG_IGN);
  rlimit limited = old;
  limited.rlim_cur = static_cast<rlim_t>(bytes);
  ok_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

FileSizeLimit::~FileSizeLimit() {
  if (ok_) {
    rlimit old{static_cast<rlim_t>(saved_[0]), static_cast<rlim_t>(saved_[1])};
    setrlimit(RLIMIT_FSIZE, &old);
  }
  signal(SIGXFSZ, saved_handler_);
}

bool GiveLinkToOtherUser(const std::string& path, std::string* why_not) {
  if (lchown(path.c_str(), kOtherUserId, kOtherUserId) == 0) return true;
  *why_not = "cannot give " + path + " to another user: " + std::strerror(errno);
  return false;
}

}  // namespace runtime::platform
