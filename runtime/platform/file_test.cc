// The file backend's contract, the same on both platforms: dispositions,
// positions, append-only opens, share modes within one process and across
// two, directories and sizes.
#include "runtime/platform/file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/platform/clock.h"
#include "runtime/platform/process_control.h"
#include "runtime/platform/testing/held_path.h"
#include "runtime/platform/testing/scratch_directory.h"
#include "runtime/platform/testing/test_child.h"

namespace runtime::platform {
namespace {

constexpr uint32_t kRead = kGenericRead;
constexpr uint32_t kWrite = kGenericWrite;
constexpr uint32_t kReadWrite = kGenericRead | kGenericWrite;
constexpr uint32_t kReadAppend = kGenericRead | kFileAppendData;
constexpr uint32_t kShareBoth = kFileShareRead | kFileShareWrite;

// Exit codes of the child's open task.
constexpr int kOpened = 10;
constexpr int kRefused = 11;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

FileHandle Open(const char* path, uint32_t access, uint32_t share,
                FileDisposition disposition = FileDisposition::kOpenExisting) {
  return OpenHeldPath(path, access, share, disposition);
}

std::string ReadAll(FileHandle file, int32_t count) {
  std::string bytes(static_cast<std::size_t>(count), '\0');
  bytes.resize(static_cast<std::size_t>(ReadFromFile(file, bytes.data(), count)));
  return bytes;
}

// `value` as the ten digits that the counting children keep.
std::string TenDigits(long value) {
  std::string digits = std::to_string(value);
  digits.insert(0, 10 - digits.size(), '0');
  return digits;
}

// Waits up to ten seconds for `path` to appear.
bool AwaitFile(const char* path) {
  const int64_t deadline = MonotonicMilliseconds() + 10000;
  while (!Exists(path)) {
    if (MonotonicMilliseconds() > deadline) return false;
    SleepMilliseconds(1);
  }
  return true;
}

// Child, "file_open ACCESS SHARE DISPOSITION PATH": exits kOpened or
// kRefused.
// Child, "file_count TAG ROUNDS PATH": once "go" exists, adds 1 to the
// ten-digit number in PATH ROUNDS times, each time under an open that
// shares nothing, retrying refused opens; exits 0.
int RunChildTask(const std::string& task) {
  std::istringstream words(task);
  std::string verb;
  words >> verb;
  if (verb == "file_open") {
    uint32_t access, share, disposition;
    std::string path;
    words >> access >> share >> disposition >> path;
    FileHandle file = Open(path.c_str(), access, share, static_cast<FileDisposition>(disposition));
    if (file == 0) return kRefused;
    CloseFileHandle(file);
    return kOpened;
  }
  if (verb == "file_count") {
    std::string tag, path;
    int rounds;
    words >> tag >> rounds >> path;
    FileHandle ready = Open(("ready-" + tag).c_str(), kReadWrite, 0, FileDisposition::kOpenAlways);
    if (ready == 0) return 2;
    CloseFileHandle(ready);
    if (!AwaitFile("go")) return 3;
    for (int round = 0; round < rounds;) {
      FileHandle file = Open(path.c_str(), kReadWrite, 0, FileDisposition::kOpenAlways);
      if (file == 0) {
        SleepMilliseconds(1);
        continue;
      }
      char digits[11] = {};
      int32_t got = ReadFromFile(file, digits, 10);
      long value = got == 10 ? std::strtol(digits, nullptr, 10) : 0;
      MoveFilePosition(file, -got, SeekOrigin::kCurrent);
      std::string next = TenDigits(value + 1);
      WriteToFile(file, next.data(), 10);
      CloseFileHandle(file);
      ++round;
    }
    return 0;
  }
  return 4;
}

// Started as a test's second process, this program does its task and ends
// before any test runs.
[[maybe_unused]] const bool kRanAsChild = [] {
  const char* task = std::getenv(kTestChildVariable);
  if (task == nullptr || !std::string_view(task).starts_with("file_")) return false;
  EndProcess(RunChildTask(task));
}();

std::string ChildOpen(uint32_t access, uint32_t share, FileDisposition disposition,
                      const std::string& path) {
  return "file_open " + std::to_string(access) + " " + std::to_string(share) + " " +
         std::to_string(static_cast<uint32_t>(disposition)) + " " + path;
}

class FileTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.ok()); }

  ScratchDirectory scratch_;
};

TEST_F(FileTest, DispositionsCreateKeepAndEmpty) {
  EXPECT_EQ(Open("missing", kReadWrite, 0, FileDisposition::kOpenExisting), 0);
  EXPECT_EQ(Open("missing", kWrite, 0, FileDisposition::kTruncateExisting), 0);
  EXPECT_FALSE(Exists("missing"));

  FileHandle file = Open("always", kReadWrite, 0, FileDisposition::kOpenAlways);
  ASSERT_NE(file, 0);
  EXPECT_EQ(WriteToFile(file, "content", 7), 7);
  CloseFileHandle(file);
  file = Open("always", kReadWrite, 0, FileDisposition::kOpenAlways);
  ASSERT_NE(file, 0);
  EXPECT_EQ(ReadAll(file, 100), "content");
  CloseFileHandle(file);

  file = Open("always", kReadWrite, 0, FileDisposition::kCreateAlways);
  ASSERT_NE(file, 0);
  CloseFileHandle(file);
  EXPECT_EQ(FileContents("always"), "");

  PutFile("full", "bytes");
  file = Open("full", kWrite, 0, FileDisposition::kTruncateExisting);
  ASSERT_NE(file, 0);
  // Opened for writing only: reading gives nothing.
  char byte;
  EXPECT_EQ(ReadFromFile(file, &byte, 1), 0);
  CloseFileHandle(file);
  EXPECT_EQ(FileContents("full"), "");

  file = Open("fresh", kReadWrite, 0, FileDisposition::kCreateAlways);
  ASSERT_NE(file, 0);
  CloseFileHandle(file);
  EXPECT_TRUE(Exists("fresh"));
}

TEST_F(FileTest, PositionsMoveFromHereAndFromTheEnd) {
  FileHandle file = Open("f", kReadWrite, 0, FileDisposition::kCreateAlways);
  ASSERT_NE(file, 0);
  ASSERT_EQ(WriteToFile(file, "hello world", 11), 11);
  MoveFilePosition(file, -5, SeekOrigin::kCurrent);
  EXPECT_EQ(ReadAll(file, 3), "wor");
  // A move before the start fails and the position stays.
  MoveFilePosition(file, -100, SeekOrigin::kCurrent);
  EXPECT_EQ(ReadAll(file, 10), "ld");
  MoveFilePosition(file, -11, SeekOrigin::kEnd);
  EXPECT_EQ(WriteToFile(file, "J", 1), 1);
  MoveFilePosition(file, 0, SeekOrigin::kEnd);
  EXPECT_EQ(WriteToFile(file, "!", 1), 1);
  EXPECT_EQ(WriteToFile(file, "", 0), 0);
  CloseFileHandle(file);
  EXPECT_EQ(FileContents("f"), "Jello world!");
}

TEST_F(FileTest, AppendOnlyWritesLandAtTheEndAsItIsThen) {
  PutFile("log", "0123456789");
  FileHandle append = Open("log", kReadAppend, kShareBoth);
  ASSERT_NE(append, 0);
  FileHandle other = Open("log", kReadWrite, kShareBoth);
  ASSERT_NE(other, 0);
  // Reading still starts where the position is.
  EXPECT_EQ(ReadAll(append, 3), "012");
  EXPECT_EQ(WriteToFile(append, "ab", 2), 2);
  // Another open makes the file longer; the next write follows that.
  MoveFilePosition(other, 0, SeekOrigin::kEnd);
  EXPECT_EQ(WriteToFile(other, "cd", 2), 2);
  EXPECT_EQ(WriteToFile(append, "ef", 2), 2);
  CloseFileHandle(other);
  CloseFileHandle(append);
  EXPECT_EQ(FileContents("log"), "0123456789abcdef");
}

// Windows' rule: a second open is refused when it wants an access that an
// open already there does not share, or does not share an access that one
// already there has. Write access includes append-only access.
TEST_F(FileTest, ShareModesFollowTheWindowsRule) {
  PutFile("shared", "x");
  const uint32_t kAccesses[] = {kRead, kWrite, kReadWrite, kReadAppend};
  const uint32_t kShares[] = {0, kFileShareRead, kFileShareWrite, kShareBoth};
  auto reads = [](uint32_t access) { return (access & kGenericRead) != 0; };
  auto writes = [](uint32_t access) { return (access & (kGenericWrite | kFileAppendData)) != 0; };
  for (uint32_t first_access : kAccesses) {
    for (uint32_t first_share : kShares) {
      FileHandle first = Open("shared", first_access, first_share);
      ASSERT_NE(first, 0);
      for (uint32_t second_access : kAccesses) {
        for (uint32_t second_share : kShares) {
          const bool refused = (reads(second_access) && !(first_share & kFileShareRead)) ||
                               (writes(second_access) && !(first_share & kFileShareWrite)) ||
                               (reads(first_access) && !(second_share & kFileShareRead)) ||
                               (writes(first_access) && !(second_share & kFileShareWrite));
          FileHandle second = Open("shared", second_access, second_share);
          EXPECT_EQ(second == 0, refused)
              << "first " << std::hex << first_access << "/" << first_share << ", second "
              << second_access << "/" << second_share;
          if (second != 0) CloseFileHandle(second);
        }
      }
      CloseFileHandle(first);
    }
  }
}

TEST_F(FileTest, RefusedOpenLeavesTheFileAsItWas) {
  PutFile("kept", "keep me");
  FileHandle holder = Open("kept", kRead, kFileShareRead);
  ASSERT_NE(holder, 0);
  EXPECT_EQ(Open("kept", kReadWrite, kFileShareRead, FileDisposition::kCreateAlways), 0);
  EXPECT_EQ(Open("kept", kWrite, kFileShareRead, FileDisposition::kTruncateExisting), 0);
  EXPECT_EQ(FileContents("kept"), "keep me");
  CloseFileHandle(holder);
  // Closing ends the restriction.
  FileHandle file = Open("kept", kReadWrite, 0, FileDisposition::kCreateAlways);
  EXPECT_NE(file, 0);
  CloseFileHandle(file);
  EXPECT_EQ(FileContents("kept"), "");
}

TEST_F(FileTest, ShareModesHoldAcrossProcesses) {
  PutFile("shared", "data");
  FileHandle holder = Open("shared", kRead, kFileShareRead);
  ASSERT_NE(holder, 0);
  EXPECT_EQ(
      RunTestChild(ChildOpen(kRead, kFileShareRead, FileDisposition::kOpenExisting, "shared")),
      kOpened);
  EXPECT_EQ(
      RunTestChild(ChildOpen(kReadWrite, kShareBoth, FileDisposition::kOpenExisting, "shared")),
      kRefused);
  EXPECT_EQ(RunTestChild(ChildOpen(kRead, 0, FileDisposition::kOpenExisting, "shared")), kRefused);
  EXPECT_EQ(
      RunTestChild(ChildOpen(kReadWrite, kShareBoth, FileDisposition::kCreateAlways, "shared")),
      kRefused);
  EXPECT_EQ(FileContents("shared"), "data");
  CloseFileHandle(holder);

  holder = Open("shared", kReadAppend, kShareBoth);
  ASSERT_NE(holder, 0);
  EXPECT_EQ(
      RunTestChild(ChildOpen(kReadAppend, kShareBoth, FileDisposition::kOpenAlways, "shared")),
      kOpened);
  EXPECT_EQ(
      RunTestChild(ChildOpen(kRead, kFileShareRead, FileDisposition::kOpenExisting, "shared")),
      kRefused);
  CloseFileHandle(holder);
  EXPECT_EQ(RunTestChild(ChildOpen(kRead, 0, FileDisposition::kOpenExisting, "shared")), kOpened);
}

TEST_F(FileTest, OpensThatShareNothingNeverOverlap) {
  const int kRounds = 300;
  std::string why_not;
  std::unique_ptr<TestChild> first =
      TestChild::Start("file_count a " + std::to_string(kRounds) + " counter", &why_not);
  ASSERT_NE(first, nullptr) << why_not;
  std::unique_ptr<TestChild> second =
      TestChild::Start("file_count b " + std::to_string(kRounds) + " counter", &why_not);
  ASSERT_NE(second, nullptr) << why_not;
  // Both children are started and waiting before they may begin, so that
  // their rounds overlap.
  ASSERT_TRUE(AwaitFile("ready-a"));
  ASSERT_TRUE(AwaitFile("ready-b"));
  PutFile("go", "");
  EXPECT_EQ(first->Wait(), 0);
  EXPECT_EQ(second->Wait(), 0);
  EXPECT_EQ(FileContents("counter"), TenDigits(2 * kRounds));
}

TEST_F(FileTest, DirectoriesNeverOpenAsFiles) {
  ASSERT_TRUE(std::filesystem::create_directory("dir"));

  EXPECT_EQ(Open("dir", kRead, kShareBoth), 0);
  EXPECT_EQ(Open("dir", kReadWrite, kShareBoth, FileDisposition::kOpenAlways), 0);
  EXPECT_EQ(Open("dir", kReadWrite, kShareBoth, FileDisposition::kCreateAlways), 0);
  EXPECT_TRUE(std::filesystem::is_directory("dir"));
  const FolderHandle here = HoldCurrentFolder();
  EXPECT_NE(QueryEntryAttributesIn(here, "dir") & kFileAttributeDirectory, 0u);
  ReleaseFolder(here);
}

TEST_F(FileTest, AHeldFolderKeepsItsEntriesWhateverHappensToItsName) {
  const FolderHandle current = HoldCurrentFolder();
  ASSERT_NE(current, 0);
  FolderOutcome outcome;
  EXPECT_EQ(HoldFolderIn(current, "raspuns", false, &outcome), 0);
  EXPECT_EQ(outcome, FolderOutcome::kMissing);
  const FolderHandle held = HoldFolderIn(current, "raspuns", true, &outcome);
  ASSERT_NE(held, 0);
  EXPECT_EQ(outcome, FolderOutcome::kHeld);

  // Another folder swapped in under the name: Windows refuses to move a
  // held folder; elsewhere the held one goes along with its new name.
  std::error_code refused;
  std::filesystem::rename("raspuns", "moved", refused);
  if (PathsHaveDriveLetters()) {
    EXPECT_TRUE(refused) << "Windows let a held folder be moved";
  }
  const std::string home = refused ? "raspuns" : "moved";
  if (!refused) std::filesystem::create_directory("raspuns");
  const FileHandle file =
      OpenFileIn(held, "new.tmp", kReadWrite, kFileShareRead, FileDisposition::kCreateNew,
                 kFileAttributeNormal, LinkRule::kNever, false);
  ASSERT_NE(file, 0);
  EXPECT_EQ(WriteToFile(file, "value\r\n", 7), 7);
  EXPECT_EQ(QueryOpenFileSize(file), 7);
  CloseFileHandle(file);
  EXPECT_TRUE(MoveWithoutReplacingIn(held, "new.tmp", "cant.txt"));
  PutFile(home + "/other.tmp", "later\r\n");
  EXPECT_FALSE(MoveWithoutReplacingIn(held, "other.tmp", "cant.txt"));
  EXPECT_EQ(FileContents(home + "/cant.txt"), "value\r\n");
  if (!refused) {
    EXPECT_TRUE(std::filesystem::is_empty("raspuns"));
  }
  EXPECT_EQ(QueryEntryAttributesIn(held, "cant.txt"), kFileAttributeNormal);
  EXPECT_TRUE(RemoveFileIn(held, "cant.txt"));
  EXPECT_EQ(QueryEntryAttributesIn(held, "cant.txt"), kInvalidFileAttributes);
  // Names are entries of the folder, never paths out of it.
  EXPECT_EQ(OpenFileIn(held, "..\\escaped", kReadWrite, 0, FileDisposition::kCreateNew,
                       kFileAttributeNormal, LinkRule::kNever, false),
            0);
  EXPECT_FALSE(Exists("escaped"));
  ReleaseFolder(held);

  // A file instead of a folder is no folder to hold.
  PutFile("file", "x");
  EXPECT_EQ(HoldFolderIn(current, "file", true, &outcome), 0);
  EXPECT_EQ(outcome, FolderOutcome::kFailed);
  ReleaseFolder(current);
}

// Names given with a held folder are its entries: none leads out of it,
// whatever call it is given to, and nothing is made anywhere.
TEST_F(FileTest, NamesThatAreNoSingleEntryReachNothing) {
  std::filesystem::create_directories("station/raspuns/inner");
  const FolderHandle station = HoldCurrentFolder();
  ASSERT_NE(station, 0);
  FolderOutcome outcome;
  const FolderHandle held = HoldFolderIn(station, "station", false, &outcome);
  ASSERT_NE(held, 0);
  PutFile("victim", "keep");
  // A full path to the scratch folder itself, one above the held one.
  const std::string absolute = scratch_.path() + "/absolute";
  PutFile("station/raspuns/inner/victim", "keep");
  for (const char* name : {"../escaped", "..\\escaped", "raspuns/escaped", "raspuns\\escaped",
                           absolute.c_str(), "..", ".", "", "raspuns/inner/../escaped"}) {
    for (FileDisposition disposition : {FileDisposition::kCreateNew, FileDisposition::kCreateAlways,
                                        FileDisposition::kOpenAlways}) {
      EXPECT_EQ(OpenFileIn(held, name, kReadWrite, 0, disposition, kFileAttributeNormal,
                           LinkRule::kTrusted, false),
                0)
          << name;
    }
    EXPECT_EQ(InspectEntryIn(held, name, LinkRule::kTrusted).kind, EntryKind::kUnreachable) << name;
    EXPECT_EQ(QueryEntryAttributesIn(held, name), kInvalidFileAttributes) << name;
  }
  for (const char* name : {"../victim", "raspuns/inner/victim", "..\\victim"}) {
    EXPECT_FALSE(RemoveFileIn(held, name)) << name;
    EXPECT_FALSE(MoveWithoutReplacingIn(held, name, "taken")) << name;
  }
  PutFile("station/mine", "x");
  EXPECT_FALSE(MoveWithoutReplacingIn(held, "mine", "../moved"));
  EXPECT_FALSE(MoveWithoutReplacingIn(held, "mine", "raspuns/moved"));
  EXPECT_EQ(HoldFolderIn(held, "raspuns/inner", false, &outcome), 0);
  EXPECT_EQ(HoldFolderIn(held, "..", false, &outcome), 0);
  ReleaseFolder(held);
  ReleaseFolder(station);
  EXPECT_FALSE(Exists("escaped"));
  EXPECT_FALSE(Exists("station/escaped"));
  EXPECT_FALSE(Exists("station/raspuns/escaped"));
  EXPECT_FALSE(Exists("moved"));
  EXPECT_FALSE(Exists("station/raspuns/moved"));
  EXPECT_FALSE(Exists("absolute"));
  EXPECT_EQ(FileContents("victim"), "keep");
  EXPECT_EQ(FileContents("station/raspuns/inner/victim"), "keep");
  EXPECT_EQ(FileContents("station/mine"), "x");
}

// A link at an entry, dangling or to a file, is neither a file nor a folder
// to a caller that follows none; one that follows it sees what it reaches.
TEST_F(FileTest, ALinkAtAnEntryIsNeitherFileNorFolderUnlessFollowed) {
  PutFile("target", "12345");
  std::filesystem::create_directory("folder");
  std::error_code error;
  std::filesystem::create_symlink("target", "to_file", error);
  if (!error) std::filesystem::create_symlink("gone", "dangling", error);
  if (!error) std::filesystem::create_directory_symlink("folder", "to_folder", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  const FolderHandle here = HoldCurrentFolder();
  ASSERT_NE(here, 0);
  for (const char* name : {"to_file", "dangling", "to_folder"}) {
    EXPECT_EQ(QueryEntryAttributesIn(here, name), kFileAttributeDevice) << name;
    EXPECT_EQ(InspectEntryIn(here, name, LinkRule::kNever).kind, EntryKind::kTrustedLink) << name;
  }
  EXPECT_EQ(QueryEntryAttributesIn(here, "target"), kFileAttributeNormal);
  EXPECT_EQ(QueryEntryAttributesIn(here, "folder"), kFileAttributeDirectory);
  EXPECT_EQ(QueryEntryAttributesIn(here, "missing"), kInvalidFileAttributes);

  const EntryFacts file = InspectEntryIn(here, "to_file", LinkRule::kTrusted);
  EXPECT_EQ(file.kind, EntryKind::kFile);
  EXPECT_TRUE(file.through_link);
  EXPECT_EQ(file.size, 5);
  EXPECT_EQ(file.links, 1u);
  const EntryFacts dangling = InspectEntryIn(here, "dangling", LinkRule::kTrusted);
  EXPECT_EQ(dangling.kind, EntryKind::kMissing);
  EXPECT_TRUE(dangling.through_link);
  EXPECT_EQ(InspectEntryIn(here, "to_folder", LinkRule::kTrusted).kind, EntryKind::kFolder);
  const EntryFacts plain = InspectEntryIn(here, "target", LinkRule::kNever);
  EXPECT_EQ(plain.kind, EntryKind::kFile);
  EXPECT_FALSE(plain.through_link);
  EXPECT_EQ(InspectEntryIn(here, "missing", LinkRule::kNever).kind, EntryKind::kMissing);
  ReleaseFolder(here);
}

TEST_F(FileTest, FilesWithASecondNameAreRefusedWhereAsked) {
  PutFile("one", "x");
  std::error_code error;
  std::filesystem::create_hard_link("one", "two", error);
  if (error) GTEST_SKIP() << "cannot make hard links here: " << error.message();
  for (FileDisposition disposition :
       {FileDisposition::kOpenExisting, FileDisposition::kOpenAlways,
        FileDisposition::kCreateAlways, FileDisposition::kTruncateExisting}) {
    EXPECT_EQ(OpenHeldPath("two", kReadWrite, kShareBoth, disposition, LinkRule::kNever, true), 0);
    EXPECT_EQ(FileContents("one"), "x");
  }
  const FileHandle file =
      OpenHeldPath("two", kRead, kShareBoth, FileDisposition::kOpenExisting, LinkRule::kNever);
  EXPECT_NE(file, 0);
  if (file != 0) CloseFileHandle(file);
}

TEST_F(FileTest, MovesNeverReplaceAnExistingName) {
  const FolderHandle here = HoldCurrentFolder();
  ASSERT_NE(here, 0);
  FolderOutcome outcome;
  const FolderHandle out = HoldFolderIn(here, "out", true, &outcome);
  ASSERT_NE(out, 0);
  PutFile("out/new.tmp", "value\r\n");
  EXPECT_TRUE(MoveWithoutReplacingIn(out, "new.tmp", "cant.txt"));
  EXPECT_FALSE(Exists("out/new.tmp"));
  EXPECT_EQ(FileContents("out/cant.txt"), "value\r\n");

  // A name that is taken stays as it was, and so does the file to move.
  PutFile("out/other.tmp", "later\r\n");
  EXPECT_FALSE(MoveWithoutReplacingIn(out, "other.tmp", "cant.txt"));
  EXPECT_EQ(FileContents("out/cant.txt"), "value\r\n");
  EXPECT_EQ(FileContents("out/other.tmp"), "later\r\n");

  // Also while the file under that name is open for reading.
  FileHandle reader = Open("out\\cant.txt", kRead, kFileShareRead);
  ASSERT_NE(reader, 0);
  EXPECT_FALSE(MoveWithoutReplacingIn(out, "other.tmp", "cant.txt"));
  CloseFileHandle(reader);
  EXPECT_EQ(FileContents("out/cant.txt"), "value\r\n");

  EXPECT_FALSE(MoveWithoutReplacingIn(out, "missing.tmp", "fresh.txt"));
  EXPECT_FALSE(Exists("out/fresh.txt"));

  EXPECT_TRUE(RemoveFileIn(out, "other.tmp"));
  EXPECT_FALSE(Exists("out/other.tmp"));
  EXPECT_FALSE(RemoveFileIn(out, "other.tmp"));
  ReleaseFolder(out);
  ReleaseFolder(here);
}

TEST_F(FileTest, EntriesReportSizesBeyondFourGigabytes) {
  PutFile("small", "12345");
  const FolderHandle here = HoldCurrentFolder();
  EXPECT_EQ(InspectEntryIn(here, "small", LinkRule::kNever).size, 5);
  EXPECT_EQ(QueryEntryAttributesIn(here, "small") & kFileAttributeDirectory, 0u);

  constexpr uint64_t kLarge = (5ull << 30) + 3;
  PutFile("large", "");
  std::error_code error;
  std::filesystem::resize_file("large", kLarge, error);
  if (error) {
    ReleaseFolder(here);
    GTEST_SKIP() << "no room for a sparse file here: " << error.message();
  }
  EXPECT_EQ(static_cast<uint64_t>(InspectEntryIn(here, "large", LinkRule::kNever).size), kLarge);
  const FileHandle large = Open("large", kRead, kShareBoth);
  ASSERT_NE(large, 0);
  EXPECT_EQ(static_cast<uint64_t>(QueryOpenFileSize(large)), kLarge);
  CloseFileHandle(large);
  std::filesystem::remove("large");

  EXPECT_EQ(InspectEntryIn(here, "missing", LinkRule::kNever).kind, EntryKind::kMissing);
  EXPECT_EQ(QueryEntryAttributesIn(here, "missing"), kInvalidFileAttributes);
  ReleaseFolder(here);
}

TEST_F(FileTest, PathLimitAndTheCurrentFolderCountedAsThePlatformCountsIt) {
  EXPECT_EQ(LongestFullPath(), PathsHaveDriveLetters() ? 259 : 4095);
  // ț is one UTF-16 unit on Windows and two bytes of UTF-8 on Linux: the
  // path's native form counts as the platform does.
  const std::filesystem::path folder(u8"Recepție");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  const auto expected = static_cast<int32_t>(std::filesystem::current_path().native().size());
  const int32_t length = CurrentFolderLength();
  std::filesystem::current_path(before);
  EXPECT_EQ(length, expected);
}

}  // namespace
}  // namespace runtime::platform
