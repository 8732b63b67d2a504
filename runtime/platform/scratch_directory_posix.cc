#include "runtime/platform/scratch_directory.h"

#include <stdlib.h>
#include <unistd.h>

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

}  // namespace runtime::platform
