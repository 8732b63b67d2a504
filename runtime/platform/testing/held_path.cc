#include "runtime/platform/testing/held_path.h"

#include <string>

namespace runtime::platform {

FileHandle OpenHeldPath(const char* path, uint32_t access, uint32_t share,
                        FileDisposition disposition, LinkRule links, bool one_name) {
  std::string name = path;
  const FolderHandle here = HoldCurrentFolder();
  if (here == 0) return 0;
  FolderHandle folder = here;
  const std::size_t slash = name.rfind('\\');
  if (slash != std::string::npos) {
    FolderOutcome outcome;
    folder = HoldFolderIn(here, name.substr(0, slash).c_str(), false, &outcome);
    name.erase(0, slash + 1);
  }
  const FileHandle file = folder == 0 ? 0
                                      : OpenFileIn(folder, name.c_str(), access, share, disposition,
                                                   kFileAttributeNormal, links, one_name);
  if (folder != here && folder != 0) ReleaseFolder(folder);
  ReleaseFolder(here);
  return file;
}

}  // namespace runtime::platform
