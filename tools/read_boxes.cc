// read-boxes: the operator of a station under test, for the tests that must
// know what another program's message boxes said.
//
//   read-boxes TITLE RECORD STOP SECONDS
//
// Works in the current folder. Waits for message boxes titled TITLE, of any
// process; for each it appends "TITLE\n<message>\n" to the file RECORD (made
// when missing) and only then presses OK, so that once the program that
// showed a box has ended, the box's message is in RECORD. Ends when the file
// STOP exists and no box is shown, or after SECONDS. Exits 1 when RECORD
// cannot be written, 2 on wrong arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/platform/clock.h"
#include "runtime/platform/file.h"
#include "runtime/platform/testing/window_test_support.h"

namespace {

using namespace runtime::platform;

bool Exists(FolderHandle folder, const char* name) {
  const FileHandle file =
      OpenFileIn(folder, name, kGenericRead, kFileShareRead | kFileShareWrite,
                 FileDisposition::kOpenExisting, kFileAttributeNormal, LinkRule::kAny, false);
  if (file == 0) return false;
  CloseFileHandle(file);
  return true;
}

// Through the platform's own files: a Windows console program's standard
// output would turn every LF into CR LF and hide the message's own line ends.
bool Append(FolderHandle folder, const char* name, const std::string& bytes) {
  const FileHandle file =
      OpenFileIn(folder, name, kFileAppendData, kFileShareRead | kFileShareWrite,
                 FileDisposition::kOpenAlways, kFileAttributeNormal, LinkRule::kNever, false);
  if (file == 0) return false;
  const int32_t count = static_cast<int32_t>(bytes.size());
  const bool whole = WriteToFile(file, bytes.data(), count) == count;
  CloseFileHandle(file);
  return whole;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: read-boxes TITLE RECORD STOP SECONDS\n", stderr);
    return 2;
  }
  const std::string title = argv[1];
  const char* record = argv[2];
  const char* stop = argv[3];
  const int64_t deadline = MonotonicMilliseconds() + std::atoll(argv[4]) * 1000;
  const FolderHandle folder = HoldCurrentFolder();
  if (folder == 0) return 1;
  while (MonotonicMilliseconds() < deadline) {
    const WindowHandle box = MessageBoxAnswerer::FindAnyBox(title);
    if (box == nullptr) {
      if (Exists(folder, stop)) break;
      SleepMilliseconds(100);
      continue;
    }
    std::string text;
    MessageBoxAnswerer::ReadText(box, &text);
    if (!Append(folder, record, title + "\n" + text + "\n")) {
      ReleaseFolder(folder);
      return 1;
    }
    // A press may get lost while the box is still being made: press again
    // while it stays, but never read it twice.
    for (int round = 0; MessageBoxAnswerer::StillShown(box); ++round) {
      if (round % 10 == 0) MessageBoxAnswerer::Press(box, MessageBoxAnswerer::Answer::kOk);
      if (MonotonicMilliseconds() >= deadline) break;
      SleepMilliseconds(50);
    }
  }
  ReleaseFolder(folder);
  return 0;
}
