#ifndef WEIGH_RUNTIME_PLATFORM_PLANTED_FILES_H_
#define WEIGH_RUNTIME_PLATFORM_PLANTED_FILES_H_

// Files that someone who may write the program's folder or the current
// folder could leave there for the system's loader to take instead of its
// own, and who made a link the program meets. Nothing here changes a file.

#include <string>
#include <vector>

namespace runtime::platform {

// A file found where the loader might look.
struct PlantedFile {
  // Its full path, UTF-8.
  std::string path;
  // What the loader could take it for, in a few words ("a DLL", "a manifest
  // for this program", "a DLL redirection for this program").
  std::string kind;
};

// Windows: every "*.dll" in the program's folder and in the current folder,
// and the program file's name with ".manifest" and ".local" beside it (a
// file or a folder), each once, in the order found. POSIX: none, as the
// dynamic loader looks in neither folder unless the environment tells it to.
std::vector<PlantedFile> FindPlantableFiles();

// Who made the link at `path` (its last component) and what a weighing does
// with it, in a few words: Windows "a junction or symbolic link of
// Administrators, which a weighing follows"; POSIX "a symbolic link of
// root". Empty when there is no link at `path`.
std::string DescribeLinkOwner(const char* path);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_PLANTED_FILES_H_
