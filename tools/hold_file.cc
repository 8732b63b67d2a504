// hold-file: keeps a file open for a while the way a consuming program that
// reads it may, for the tests of the handoff.
//
//   hold-file PATH MILLISECONDS
//
// Opens PATH for reading without sharing it with anyone (on Linux through the
// same share emulation as the station program), waits MILLISECONDS, copies
// the file to standard output and closes it. Exits 1 when PATH cannot be
// opened.
#include <cstdio>
#include <cstdlib>

#include "runtime/platform/clock.h"
#include "runtime/platform/file.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: hold-file PATH MILLISECONDS\n", stderr);
    return 2;
  }
  using namespace runtime::platform;
  const FileHandle file =
      OpenFileHandle(argv[1], kGenericRead, 0, FileDisposition::kOpenExisting, kFileAttributeNormal);
  if (file == 0) return 1;
  SleepMilliseconds(std::atoi(argv[2]));
  char chunk[4096];
  for (int32_t got; (got = ReadFromFile(file, chunk, sizeof(chunk))) > 0;) {
    std::fwrite(chunk, 1, static_cast<std::size_t>(got), stdout);
  }
  CloseFileHandle(file);
  return 0;
}
