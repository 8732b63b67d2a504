#include <sys/stat.h>
#include <unistd.h>

#include "runtime/platform/planted_files.h"

namespace runtime::platform {

std::vector<PlantedFile> FindPlantableFiles() { return {}; }

std::string DescribeLinkOwner(const char* path) {
  struct stat link;
  if (lstat(path, &link) != 0 || !S_ISLNK(link.st_mode)) return std::string();
  if (link.st_uid == geteuid()) return "a symbolic link of this user";
  if (link.st_uid == 0) return "a symbolic link of root";
  return "a symbolic link of another user (uid " + std::to_string(link.st_uid) + ")";
}

}  // namespace runtime::platform
