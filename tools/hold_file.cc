// hold-file: keeps a file open for a while the way a consuming program that
// reads it may, for the tests of the handoff.
//
//   hold-file PATH MILLISECONDS COPY
//
// PATH and COPY are "name" or "folder\name" in the current folder. Opens PATH for reading without
// sharing it with anyone (on Linux through the same share emulation as the station program), waits
// MILLISECONDS, copies the file byte for byte to the new file COPY and closes it. Exits 1 when PATH
// cannot be opened or COPY cannot be made.
#include <cstdio>
#include <cstdlib>

#include "runtime/platform/clock.h"
#include "runtime/platform/file.h"
#include "runtime/platform/testing/held_path.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: hold-file PATH MILLISECONDS COPY\n", stderr);
    return 2;
  }
  using namespace runtime::platform;
  const FileHandle file = OpenHeldPath(argv[1], kGenericRead, 0, FileDisposition::kOpenExisting);
  if (file == 0) return 1;
  SleepMilliseconds(std::atoi(argv[2]));
  // Through the platform's own files: a Windows console program's standard
  // output would turn every LF into CR LF.
  const FileHandle copy =
      OpenHeldPath(argv[3], kGenericWrite, kFileShareRead, FileDisposition::kCreateAlways);
  if (copy == 0) {
    CloseFileHandle(file);
    return 1;
  }
  char chunk[4096];
  for (int32_t got; (got = ReadFromFile(file, chunk, sizeof(chunk))) > 0;) {
    WriteToFile(copy, chunk, got);
  }
  CloseFileHandle(copy);
  CloseFileHandle(file);
  return 0;
}
