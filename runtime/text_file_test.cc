// Text files over the real file system: line ends, the buffer, numbers and
// identities, sizes and directories, and other processes at the same files.
#include "runtime/text_file.h"

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
#include "runtime/platform/testing/flush_watch.h"
#include "runtime/platform/testing/held_path.h"
#include "runtime/platform/testing/scratch_directory.h"
#include "runtime/platform/testing/test_child.h"
#include "runtime/program_heap.h"
#include "runtime/text.h"

namespace runtime {
namespace {

using platform::FileContents;
using platform::PutFile;

using namespace std::string_literals;

constexpr int32_t kAppendToLog = OPTION_SHARE_READ | OPTION_SHARE_WRITE | OPTION_APPEND;

// Exit codes of the child's open task.
constexpr int kOpened = 10;
constexpr int kRefused = 11;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// `length` bytes that do not repeat with the buffer's period.
std::string Pattern(int length) {
  std::string bytes(static_cast<std::size_t>(length), ' ');
  for (int i = 0; i < length; ++i) bytes[i] = static_cast<char>('!' + (i * 7 + i / 91) % 90);
  return bytes;
}

// The tests name a file of the scratch folder as "name" or "folder\name";
// the file layer is given the held folder and the entry, as the program
// gives it. Returns 0 where the folder cannot be held.
template <typename Open>
ObjectValue InHeldFolder(const Text& path, Open open) {
  std::string name(path.view());
  const FolderHandle here = HoldCurrentFolder();
  FolderHandle folder = here;
  const std::size_t slash = name.rfind('\\');
  if (slash != std::string::npos) {
    FolderOutcome outcome;
    folder = HoldFolder(here, Text(name.substr(0, slash)), false, &outcome);
    name.erase(0, slash + 1);
  }
  const ObjectValue file = folder != 0 ? open(folder, Text(name)) : 0;
  if (folder != here && folder != 0) ReleaseFolder(folder);
  ReleaseFolder(here);
  return file;
}

using runtime::CreateNewTextFile;
using runtime::CreateTextFile;
using runtime::OpenForReading;
using runtime::OpenForUpdate;

ObjectValue CreateTextFile(ObjectValue number, const Text& path, int32_t options = 0) {
  return InHeldFolder(path, [&](FolderHandle folder, const Text& name) {
    return CreateTextFile(number, folder, name, options);
  });
}

ObjectValue CreateNewTextFile(ObjectValue number, const Text& path) {
  return InHeldFolder(path, [&](FolderHandle folder, const Text& name) {
    return CreateNewTextFile(number, folder, name);
  });
}

ObjectValue OpenForUpdate(ObjectValue number, const Text& path,
                          int32_t options = OPTION_SHARE_READ) {
  return InHeldFolder(path, [&](FolderHandle folder, const Text& name) {
    return OpenForUpdate(number, folder, name, options);
  });
}

ObjectValue OpenForReading(ObjectValue number, const Text& path, int32_t options) {
  return InHeldFolder(path, [&](FolderHandle folder, const Text& name) {
    return OpenForReading(number, folder, name, options);
  });
}

// The size of the file `path`, -1 where there is none.
int64_t SizeOf(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<int64_t>(size);
}

bool AwaitFile(const std::string& path) {
  const int64_t deadline = platform::MonotonicMilliseconds() + 10000;
  while (SizeOf(path) < 0) {
    if (platform::MonotonicMilliseconds() > deadline) return false;
    platform::SleepMilliseconds(1);
  }
  return true;
}

// Child, "text_file_open create|update|read OPTIONS PATH": exits kOpened
// or kRefused.
// Child, "text_file_append TAG ROUNDS": once "go" exists, appends the lines
// "TAG 0" to "TAG ROUNDS-1" to log.txt, one open and close each, as runs
// of the program do; exits 0, or 2 when an open failed.
int RunChildTask(const std::string& task) {
  CreateProgramHeap();
  StartFiles();
  std::istringstream words(task);
  std::string verb;
  words >> verb;
  if (verb == "text_file_open") {
    std::string kind, path;
    int32_t options;
    words >> kind >> options >> path;
    ObjectValue file = 0;
    if (kind == "create") file = CreateTextFile(AUTO_NUMBER, Text(path));
    if (kind == "update") file = OpenForUpdate(AUTO_NUMBER, Text(path), options);
    if (kind == "read") file = OpenForReading(AUTO_NUMBER, Text(path), options);
    return file != 0 ? kOpened : kRefused;
  }
  if (verb == "text_file_append") {
    std::string tag;
    int rounds;
    words >> tag >> rounds;
    CloseTextFile(CreateTextFile(AUTO_NUMBER, Text("ready-" + tag)));
    if (!AwaitFile("go")) return 3;
    for (int round = 0; round < rounds; ++round) {
      ObjectValue log = OpenForUpdate(AUTO_NUMBER, "log.txt", kAppendToLog);
      if (log == 0) return 2;
      WriteLine(log, Text(tag + " " + std::to_string(round)));
      CloseTextFile(log);
    }
    return 0;
  }
  return 4;
}

// Started as a test's second process, this program does its task and ends
// before any test runs.
[[maybe_unused]] const bool kRanAsChild = [] {
  const char* task = std::getenv(platform::kTestChildVariable);
  if (task == nullptr || !std::string_view(task).starts_with("text_file_")) return false;
  platform::EndProcess(RunChildTask(task));
}();

class TextFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    CreateProgramHeap();
    StartFiles();
  }
  void TearDown() override {
    CloseAllFiles();
    DestroyProgramHeap();
  }

  // The lines ReadLine gives for a file holding `bytes`, `count` calls.
  std::vector<std::string> LinesOf(const std::string& bytes, int count, int32_t options) {
    PutFile("lines", bytes);
    ObjectValue file = OpenForReading(AUTO_NUMBER, "lines", options);
    std::vector<std::string> lines;
    if (file == 0) return lines;
    for (int i = 0; i < count; ++i) lines.emplace_back(ReadLine(file).view());
    CloseTextFile(file);
    return lines;
  }

  platform::ScratchDirectory scratch_;
};

using Lines = std::vector<std::string>;

TEST_F(TextFileTest, EveryKindOfLineEnd) {
  for (int32_t options : {OPTION_SHARE_READ, OPTION_SHARE_READ | OPTION_NO_BUFFER}) {
    SCOPED_TRACE(options);
    EXPECT_EQ(LinesOf("a\r\nb", 3, options), (Lines{"a", "b", ""}));
    EXPECT_EQ(LinesOf("a\rb", 3, options), (Lines{"a", "b", ""}));
    EXPECT_EQ(LinesOf("a\nb\n", 3, options), (Lines{"a", "b", ""}));
    EXPECT_EQ(LinesOf("a\n\rb", 3, options), (Lines{"a", "", "b"}));
    EXPECT_EQ(LinesOf("\r\n\r\n\n", 4, options), (Lines{"", "", "", ""}));
    EXPECT_EQ(LinesOf("no line end", 2, options), (Lines{"no line end", ""}));
    // A zero byte ends the line and is dropped.
    EXPECT_EQ(LinesOf("a\0b\nc"s, 3, options), (Lines{"a", "b", "c"}));
    EXPECT_EQ(LinesOf("\xff\x01\t \r\n"s, 1, options), (Lines{"\xff\x01\t "}));
  }
}

TEST_F(TextFileTest, CarriageReturnAtTheEndLeavesThePositionThere) {
  for (int32_t options : {OPTION_SHARE_READ, OPTION_SHARE_READ | OPTION_NO_BUFFER}) {
    PutFile("f", "a\r");
    ObjectValue file = OpenForUpdate(AUTO_NUMBER, "f", options);
    ASSERT_NE(file, 0);
    EXPECT_EQ(ReadLine(file).view(), "a");
    EXPECT_EQ(ReadLine(file).view(), "");
    EXPECT_EQ(WriteLine(file, "z"), 3);
    CloseTextFile(file);
    EXPECT_EQ(FileContents("f"), "a\rz\r\n") << options;
  }
}

TEST_F(TextFileTest, LinesAroundTheBufferSizeGoOutAndComeBackWhole) {
  const int kLengths[] = {0, 4094, 4095, 4096, 4097, 5000, 10000, 1};
  ObjectValue file = CreateTextFile(AUTO_NUMBER, "long");
  ASSERT_NE(file, 0);
  std::string expected;
  for (int length : kLengths) {
    EXPECT_EQ(WriteLine(file, Text(Pattern(length))), length + 2) << length;
    expected += Pattern(length) + "\r\n";
  }
  CloseTextFile(file);
  ASSERT_EQ(FileContents("long"), expected);

  for (int32_t options : {OPTION_SHARE_READ, OPTION_NO_BUFFER}) {
    file = OpenForReading(AUTO_NUMBER, "long", options);
    ASSERT_NE(file, 0);
    for (int length : kLengths) EXPECT_EQ(ReadLine(file).view(), Pattern(length)) << length;
    EXPECT_EQ(ReadLine(file).view(), "");
    CloseTextFile(file);
  }
}

TEST_F(TextFileTest, LongLineAfterPendingBytesKeepsTheOrder) {
  ObjectValue file = OpenForUpdate(AUTO_NUMBER, "f");
  ASSERT_NE(file, 0);
  EXPECT_EQ(WriteLine(file, "first"), 7);
  EXPECT_EQ(FileContents("f"), "");  // still in the buffer
  EXPECT_EQ(WriteLine(file, Text(Pattern(5000))), 5002);
  // The pending line and the long text went out; CR LF waits in the buffer.
  EXPECT_EQ(FileContents("f"), "first\r\n" + Pattern(5000));
  CloseTextFile(file);
  EXPECT_EQ(FileContents("f"), "first\r\n" + Pattern(5000) + "\r\n");
}

// The buffer on its own, on a file opened directly on the platform.
class FileBufferTest : public TextFileTest {
 protected:
  void OpenRaw(const std::string& bytes) {
    PutFile("raw", bytes);
    // Shared, so that the test can look at the file meanwhile.
    file_.handle = platform::OpenHeldPath("raw", platform::kGenericRead | platform::kGenericWrite,
                                          platform::kFileShareRead | platform::kFileShareWrite,
                                          platform::FileDisposition::kOpenExisting);
    ASSERT_NE(file_.handle, 0);
    file_.buffer = buffer_.data();
    file_.bufferSize = FILE_BUFFER_SIZE;
    file_.available = 0;
    file_.filled = 0;
    file_.mode = READ_MODE;
  }
  void TearDown() override {
    if (file_.handle != 0) platform::CloseFileHandle(file_.handle);
    TextFileTest::TearDown();
  }

  // Starts reading again at offset 0 of a file of `size` bytes.
  void MoveToStart(int32_t size) {
    platform::MoveFilePosition(file_.handle, -size, platform::SeekOrigin::kEnd);
    file_.available = 0;
    file_.filled = 0;
    file_.mode = READ_MODE;
  }

  std::string Read(int32_t count) {
    std::string bytes(static_cast<std::size_t>(count), '\0');
    bytes.resize(static_cast<std::size_t>(BufferedRead(&file_, bytes.data(), count)));
    return bytes;
  }

  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(FILE_BUFFER_SIZE);
  TextFile file_{};
};

TEST_F(FileBufferTest, WritesNeverLeaveTheBufferFull) {
  OpenRaw("");
  const std::string bytes = Pattern(8192);
  EXPECT_EQ(BufferedWrite(&file_, bytes.data(), 4095), 4095);
  EXPECT_EQ(file_.mode, WRITE_MODE);
  EXPECT_EQ(file_.available, 1);
  EXPECT_EQ(std::filesystem::file_size("raw"), 0u);
  // One more byte would fill it: the pending bytes go out first.
  EXPECT_EQ(BufferedWrite(&file_, bytes.data() + 4095, 1), 1);
  EXPECT_EQ(std::filesystem::file_size("raw"), 4095u);
  EXPECT_EQ(file_.available, FILE_BUFFER_SIZE - 1);
  // A whole buffer's worth goes straight out after the pending byte.
  EXPECT_EQ(BufferedWrite(&file_, bytes.data() + 4096, 4096), 4096);
  EXPECT_EQ(file_.available, FILE_BUFFER_SIZE);
  EXPECT_EQ(FlushFileBuffer(&file_), 0);
  EXPECT_EQ(FileContents("raw"), bytes);
}

TEST_F(FileBufferTest, ReadsRefillAndReadLargeCountsDirectly) {
  const std::string bytes = Pattern(10000);
  OpenRaw(bytes);
  EXPECT_EQ(Read(10), bytes.substr(0, 10));
  EXPECT_EQ(file_.filled, FILE_BUFFER_SIZE);
  EXPECT_EQ(file_.available, FILE_BUFFER_SIZE - 10);
  // The rest of the buffer, then a refill for the remainder.
  EXPECT_EQ(Read(5000), bytes.substr(10, 5000));
  EXPECT_EQ(file_.available, 2 * FILE_BUFFER_SIZE - 5010);
  // Past the end: whatever is left.
  EXPECT_EQ(Read(6000), bytes.substr(5010));
  EXPECT_EQ(Read(1), "");

  MoveToStart(10000);
  // A count of a buffer or more beyond what is buffered is read directly.
  EXPECT_EQ(Read(9000), bytes.substr(0, 9000));
  EXPECT_EQ(file_.available, 0);
  EXPECT_EQ(Read(2000), bytes.substr(9000));
}

TEST_F(FileBufferTest, ModeChangesHandOverAtTheLogicalPosition) {
  const std::string bytes = Pattern(6000);
  OpenRaw(bytes);
  EXPECT_EQ(Read(10), bytes.substr(0, 10));
  // The read-ahead is handed back: the write lands at offset 10.
  EXPECT_EQ(BufferedWrite(&file_, "XY", 2), 2);
  // Reading again writes the pending bytes out first and goes on after them.
  EXPECT_EQ(Read(3), bytes.substr(12, 3));
  EXPECT_EQ(file_.mode, READ_MODE);
  std::string expected = bytes;
  expected.replace(10, 2, "XY");
  EXPECT_EQ(FileContents("raw"), expected);
}

TEST_F(TextFileTest, WriteAfterReadLandsRightAfterTheLine) {
  for (int32_t options : {OPTION_SHARE_READ, OPTION_SHARE_READ | OPTION_NO_BUFFER}) {
    PutFile("f", "one\r\ntwo\r\nthree\r\n");
    ObjectValue file = OpenForUpdate(1, "f", options);
    ASSERT_NE(file, 0);
    EXPECT_EQ(ReadLine(1).view(), "one");
    EXPECT_EQ(WriteLine(1, "TWO"), 5);
    EXPECT_EQ(ReadLine(1).view(), "three");
    CloseTextFile(1);
    EXPECT_EQ(FileContents("f"), "one\r\nTWO\r\nthree\r\n") << options;
  }
}

TEST_F(TextFileTest, UpdateOverwritesInPlaceAndAppendFollowsTheEnd) {
  PutFile("f", "0123456789");
  ASSERT_NE(OpenForUpdate(2, "f"), 0);
  EXPECT_EQ(WriteLine(2, "ab"), 4);
  CloseTextFile(2);
  EXPECT_EQ(FileContents("f"), "ab\r\n456789");

  PutFile("log", "no line end");
  ObjectValue log = OpenForUpdate(AUTO_NUMBER, "log", kAppendToLog);
  ASSERT_NE(log, 0);
  EXPECT_EQ(ReadLine(log).view(), "");  // positioned at the end
  WriteLine(log, "x");
  CloseTextFile(log);
  log = OpenForUpdate(AUTO_NUMBER, "log", kAppendToLog | OPTION_NO_BUFFER);
  ASSERT_NE(log, 0);
  WriteLine(log, "y");
  CloseTextFile(log);
  EXPECT_EQ(FileContents("log"), "no line endx\r\ny\r\n");
}

TEST_F(TextFileTest, OpensOfMissingFilesAndCreation) {
  EXPECT_EQ(OpenForReading(AUTO_NUMBER, "missing", OPTION_SHARE_READ), 0);
  EXPECT_EQ(OpenForReading(3, "missing", OPTION_SHARE_READ), 0);
  EXPECT_FALSE(Exists("missing"));
  EXPECT_EQ(CreateTextFile(AUTO_NUMBER, "nodir\\cant.txt"), 0);

  ObjectValue file = OpenForUpdate(AUTO_NUMBER, "new");
  ASSERT_NE(file, 0);
  CloseTextFile(file);
  EXPECT_TRUE(Exists("new"));
  EXPECT_EQ(SizeOf("new"), 0);

  PutFile("old", "old content");
  file = CreateTextFile(AUTO_NUMBER, "old");
  ASSERT_NE(file, 0);
  // Created for reading too: what was written can be read back.
  WriteLine(file, "fresh");
  CloseTextFile(file);
  EXPECT_EQ(FileContents("old"), "fresh\r\n");
}

TEST_F(TextFileTest, CreationEmptiesAFileItMayOnlyWrite) {
  PutFile("f", "old content");
  std::filesystem::permissions("f", std::filesystem::perms::owner_write);
  if (std::ifstream("f").is_open()) {
    std::filesystem::permissions("f", std::filesystem::perms::owner_all);
    GTEST_SKIP() << "this user can read every file";
  }
  // Opening for reading and writing is refused; opening for writing only
  // still empties it.
  ObjectValue file = CreateTextFile(AUTO_NUMBER, "f");
  ASSERT_NE(file, 0);
  EXPECT_EQ(WriteLine(file, "new"), 5);
  CloseTextFile(file);
  std::filesystem::permissions("f", std::filesystem::perms::owner_all);
  EXPECT_EQ(FileContents("f"), "new\r\n");
}

TEST_F(TextFileTest, HandoffPathLandsInItsDirectory) {
  ASSERT_TRUE(std::filesystem::create_directory("raspuns"));
  ObjectValue file = CreateTextFile(AUTO_NUMBER, "raspuns\\cant.txt");
  ASSERT_NE(file, 0);
  EXPECT_EQ(WriteLine(file,
                      "\x02"
                      "12.5"),
            7);
  CloseTextFile(file);
  EXPECT_EQ(FileContents((std::filesystem::path("raspuns") / "cant.txt").string()),
            "\x02"
            "12.5\r\n");
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    EXPECT_EQ(entry.path().filename().string(), "raspuns");
    ++entries;
  }
  EXPECT_EQ(entries, 1);
  EXPECT_EQ(SizeOf((std::filesystem::path("raspuns") / "cant.txt").string()), 7);
}

// The held-folder opens reach the folder's own entry and nothing else: a
// file of the same name in the current folder is left alone, and what they
// would meet is told beforehand without touching it.
TEST_F(TextFileTest, HeldFolderOpensReachTheFoldersOwnEntry) {
  std::filesystem::create_directories("station/dir");
  PutFile("Kavrin.inf", "outside");
  PutFile("station/Kavrin.inf", "COM3\r\n");
  const FolderHandle here = HoldCurrentFolder();
  FolderOutcome outcome;
  const FolderHandle station = HoldFolder(here, "station", false, &outcome);
  ASSERT_NE(station, 0);

  EntryFacts facts = InspectEntry(station, "Kavrin.inf", OPTION_NO_LINK);
  EXPECT_EQ(facts.kind, EntryKind::kFile);
  EXPECT_EQ(facts.size, 6);
  EXPECT_EQ(facts.links, 1u);
  EXPECT_EQ(InspectEntry(station, "dir", OPTION_TRUSTED_LINK).kind, EntryKind::kFolder);
  EXPECT_EQ(InspectEntry(station, "log.txt", 0).kind, EntryKind::kMissing);

  ObjectValue file = OpenForReading(AUTO_NUMBER, station, "Kavrin.inf", OPTION_SHARE_READ);
  ASSERT_NE(file, 0);
  EXPECT_EQ(ReadLine(file).view(), "COM3");
  CloseTextFile(file);
  file = CreateTextFile(AUTO_NUMBER, station, "Kavrin.inf", OPTION_NO_LINK | OPTION_ONE_NAME);
  ASSERT_NE(file, 0);
  EXPECT_EQ(WriteLine(file, "COM1"), 6);
  CloseTextFile(file);
  EXPECT_EQ(FileContents("station/Kavrin.inf"), "COM1\r\n");
  file = CreateTextFile(AUTO_NUMBER, station, "new.txt", OPTION_NO_LINK);
  ASSERT_NE(file, 0);
  CloseTextFile(file);
  EXPECT_TRUE(std::filesystem::is_regular_file("station/new.txt"));
  // A folder is no file to any of them.
  EXPECT_EQ(CreateTextFile(AUTO_NUMBER, station, "dir", OPTION_NO_LINK), 0);
  EXPECT_EQ(OpenForUpdate(AUTO_NUMBER, station, "dir", OPTION_SHARE_READ), 0);
  EXPECT_EQ(OpenForReading(AUTO_NUMBER, station, "dir", OPTION_SHARE_READ), 0);
  EXPECT_TRUE(std::filesystem::is_directory("station/dir"));
  ReleaseFolder(station);
  ReleaseFolder(here);
  EXPECT_EQ(FileContents("Kavrin.inf"), "outside");
  EXPECT_FALSE(std::filesystem::exists("new.txt"));
}

// The probe is the update open itself, tried and closed again: whatever
// refuses that open refuses the probe, and the probe leaves all as it was.
TEST_F(TextFileTest, ProbeForUpdateTriesTheVeryOpenAndChangesNothing) {
  const FolderHandle here = HoldCurrentFolder();
  constexpr int32_t kLog = kAppendToLog | OPTION_TRUSTED_LINK | OPTION_ONE_NAME;
  EXPECT_NE(ProbeForUpdate(here, "log.txt", kLog), 0);
  EXPECT_FALSE(Exists("log.txt")) << "the probe created the file";
  PutFile("log.txt", "old\r\n");
  EXPECT_EQ(ProbeForUpdate(here, "log.txt", kLog), 0);
  EXPECT_EQ(FileContents("log.txt"), "old\r\n");
  std::filesystem::create_directory("folder");
  EXPECT_NE(ProbeForUpdate(here, "folder", kLog), 0);
  EXPECT_NE(ProbeForUpdate(here, "folder\\log.txt", kLog), 0);

  // A second name is refused exactly where the open asks for one name.
  std::error_code error;
  std::filesystem::create_hard_link("log.txt", "second", error);
  if (!error) {
    EXPECT_NE(ProbeForUpdate(here, "log.txt", kLog), 0);
    EXPECT_EQ(OpenForUpdate(AUTO_NUMBER, here, "log.txt", kLog), 0);
    EXPECT_EQ(ProbeForUpdate(here, "log.txt", kLog & ~OPTION_ONE_NAME), 0);
    std::filesystem::remove("second");
  }

  // Kept from everyone by an open without sharing, as the open would be.
  const ObjectValue held = OpenForUpdate(AUTO_NUMBER, here, "log.txt", 0);
  ASSERT_NE(held, 0);
  EXPECT_NE(ProbeForUpdate(here, "log.txt", kLog), 0);
  CloseTextFile(held);
  EXPECT_EQ(ProbeForUpdate(here, "log.txt", kLog), 0);
  EXPECT_EQ(FileContents("log.txt"), "old\r\n");
  ReleaseFolder(here);
}

TEST_F(TextFileTest, ReopeningANumberClosesItsFileFirst) {
  ASSERT_NE(OpenForUpdate(0, "a"), 0);
  EXPECT_EQ(WriteLine(0, "pending"), 9);
  EXPECT_EQ(FileContents("a"), "");
  // The new open fails, but the old file was written out and closed.
  EXPECT_EQ(OpenForReading(0, "missing", OPTION_SHARE_READ), 0);
  EXPECT_EQ(FileContents("a"), "pending\r\n");
  EXPECT_EQ(IsFileOpen(0), 0);
  EXPECT_EQ(WriteLine(0, "lost"), 0);

  ASSERT_NE(OpenForUpdate(0, "a"), 0);
  ASSERT_NE(OpenForUpdate(0, "b"), 0);
  WriteLine(0, "to b");
  CloseTextFile(0);
  EXPECT_EQ(FileContents("a"), "pending\r\n");
  EXPECT_EQ(FileContents("b"), "to b\r\n");
}

TEST_F(TextFileTest, FailedAutoOpenGivesZeroWhichIsFileZero) {
  ASSERT_NE(OpenForUpdate(0, "zero"), 0);
  ObjectValue failed = OpenForReading(AUTO_NUMBER, "missing", OPTION_SHARE_READ);
  EXPECT_EQ(failed, 0);
  EXPECT_NE(IsFileOpen(failed), 0);
  EXPECT_EQ(WriteLine(failed, "via zero"), 10);
  CloseTextFile(failed);
  EXPECT_EQ(IsFileOpen(0), 0);
  EXPECT_EQ(FileContents("zero"), "via zero\r\n");
}

TEST_F(TextFileTest, ValuesWithoutAnOpenFileDoNothing) {
  for (ObjectValue value : {ObjectValue{0}, ObjectValue{5}, ObjectValue{1000}}) {
    EXPECT_EQ(IsFileOpen(value), 0);
    EXPECT_EQ(ReadLine(value).view(), "");
    EXPECT_EQ(WriteLine(value, "x"), 0);
    CloseTextFile(value);
  }
  EXPECT_EQ(IsFileOpen(AUTO_NUMBER), 0);

  ObjectValue id = OpenForUpdate(AUTO_NUMBER, "f");
  ASSERT_NE(id, 0);
  EXPECT_FALSE(id >= 0 && id < 16);
  EXPECT_EQ(IsFileOpen(id), id);
  CloseTextFile(id);
  EXPECT_EQ(IsFileOpen(id), 0);

  ASSERT_NE(OpenForUpdate(5, "g"), 0);
  CloseTextFile(5);
  EXPECT_EQ(IsFileOpen(5), 0);
  EXPECT_EQ(WriteLine(5, "x"), 0);
  EXPECT_EQ(FileContents("f") + FileContents("g"), "");
}

TEST_F(TextFileTest, ClosingEverythingWritesEverythingOut) {
  ASSERT_NE(OpenForUpdate(5, "five"), 0);
  ASSERT_NE(OpenForUpdate(2, "two"), 0);
  ObjectValue first = OpenForUpdate(AUTO_NUMBER, "first");
  ObjectValue second = CreateTextFile(AUTO_NUMBER, "second");
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  for (ObjectValue value : {ObjectValue{5}, ObjectValue{2}, first, second}) {
    WriteLine(value, "line");
  }
  CloseTextFile(AUTO_NUMBER);
  for (const char* name : {"five", "two", "first", "second"}) {
    EXPECT_EQ(FileContents(name), "line\r\n") << name;
  }
  for (ObjectValue value : {ObjectValue{5}, ObjectValue{2}, first, second}) {
    EXPECT_EQ(IsFileOpen(value), 0);
  }
  // The files are closed on the platform too: nothing keeps them shared.
  ObjectValue exclusive = OpenForUpdate(AUTO_NUMBER, "first", 0);
  EXPECT_NE(exclusive, 0);
  CloseAllFiles();
  EXPECT_EQ(IsFileOpen(exclusive), 0);
}

TEST_F(TextFileTest, FlushToDiskWritesTheBufferOutAndSaysWhetherTheDiskHasIt) {
  const std::string line = Pattern(100);
  ObjectValue file = CreateTextFile(AUTO_NUMBER, "value");
  ASSERT_NE(file, 0);
  WriteLine(file, Text(line));
  {
    platform::FlushWatch watch(false);
    ASSERT_TRUE(watch.ok());
    EXPECT_NE(FlushToDisk(file), 0);
    // The buffered bytes went out before the flush, not at the close.
    const std::vector<platform::SeenFlush> seen = watch.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].size, 102);
    EXPECT_EQ(FileContents("value"), line + "\r\n");
  }
  {
    platform::FlushWatch watch(true);
    ASSERT_TRUE(watch.ok());
    WriteLine(file, "more");
    EXPECT_EQ(FlushToDisk(file), 0);
    EXPECT_EQ(watch.seen().size(), 1u);
  }
  CloseTextFile(file);
  EXPECT_EQ(FileContents("value"), line + "\r\nmore\r\n");
  EXPECT_EQ(FlushToDisk(file), 0);
  EXPECT_EQ(FlushToDisk(AUTO_NUMBER), 0);
}

// Bytes that wait in a buffer are the caller's until they are out: a write
// or a size that needs them out says so when that fails, and a line
// appended is whole or gone.
TEST_F(TextFileTest, BufferedBytesWhoseWriteOutFailsAreToldAndLinesAreWholeOrGone) {
  ObjectValue file = OpenForUpdate(AUTO_NUMBER, "buffered", OPTION_SHARE_READ);
  ASSERT_NE(file, 0);
  // Still in the buffer, yet counted.
  EXPECT_EQ(WriteLine(file, Text(Pattern(98))), 100);
  EXPECT_EQ(QueryOpenFileSize(file), 100);
  CloseTextFile(file);

  PutFile("log", std::string(50, 'x') + "\r\n");
  {
    platform::FileSizeLimit limit(64);
    if (!limit.ok()) GTEST_SKIP() << "no file size limit on this platform";
    file = OpenForUpdate(AUTO_NUMBER, "short", OPTION_SHARE_READ);
    ASSERT_NE(file, 0);
    EXPECT_EQ(WriteLine(file, Text(Pattern(98))), 100);
    // Their write-out fails: the size is not to be had.
    EXPECT_EQ(QueryOpenFileSize(file), -1);
    CloseTextFile(file);

    file = OpenForUpdate(AUTO_NUMBER, "later", OPTION_SHARE_READ);
    ASSERT_NE(file, 0);
    EXPECT_EQ(WriteLine(file, Text(Pattern(3000))), 3002);
    // This write takes the buffer's bytes out first, and they do not fit.
    EXPECT_LT(WriteLine(file, Text(Pattern(3000))), 3002);
    CloseTextFile(file);

    file =
        OpenForUpdate(AUTO_NUMBER, "log", OPTION_SHARE_READ | OPTION_SHARE_WRITE | OPTION_APPEND);
    ASSERT_NE(file, 0);
    EXPECT_NE(AppendLine(file, "fits"), 0);
    EXPECT_EQ(AppendLine(file, Text(Pattern(20))), 0);
    CloseTextFile(file);
    EXPECT_EQ(FileContents("log"), std::string(50, 'x') + "\r\nfits\r\n");
  }
  file = OpenForUpdate(AUTO_NUMBER, "log", OPTION_SHARE_READ | OPTION_SHARE_WRITE | OPTION_APPEND);
  ASSERT_NE(file, 0);
  // Bytes written before go out first, then the line right after them.
  EXPECT_EQ(WriteLine(file, "before"), 8);
  EXPECT_NE(AppendLine(file, "next"), 0);
  CloseTextFile(file);
  EXPECT_EQ(FileContents("log"), std::string(50, 'x') + "\r\nfits\r\nbefore\r\nnext\r\n");
  EXPECT_EQ(AppendLine(AUTO_NUMBER, "x"), 0);
}

TEST_F(TextFileTest, ALineReadWithALimitStopsThere) {
  PutFile("long", std::string(10000, 'a') + "b\r\nnext\r\n");
  ObjectValue file = OpenForReading(AUTO_NUMBER, "long", OPTION_SHARE_READ);
  ASSERT_NE(file, 0);
  EXPECT_EQ(ReadLine(file, 4096).view(), std::string(4096, 'a'));
  // Nothing past the limit was taken: the rest of the line comes next.
  EXPECT_EQ(ReadLine(file, 4096).view(), std::string(4096, 'a'));
  EXPECT_EQ(ReadLine(file).view(), std::string(10000 - 8192, 'a') + "b");
  EXPECT_EQ(ReadLine(file, 4096).view(), "next");
  CloseTextFile(file);
}

TEST_F(TextFileTest, CreatingANewFileNeverTakesAnExistingName) {
  ObjectValue file = CreateNewTextFile(AUTO_NUMBER, "fresh");
  ASSERT_NE(file, 0);
  WriteLine(file, "value");
  CloseTextFile(file);
  EXPECT_EQ(FileContents("fresh"), "value\r\n");
  EXPECT_EQ(CreateNewTextFile(AUTO_NUMBER, "fresh"), 0);
  EXPECT_EQ(FileContents("fresh"), "value\r\n");

  // Links planted under the name: to a file, to nothing, and a hard link.
  // None is followed or written through.
  PutFile("precious", "keep me");
  std::error_code error;
  std::filesystem::create_hard_link("precious", "hard", error);
  if (!error) {
    EXPECT_EQ(CreateNewTextFile(AUTO_NUMBER, "hard"), 0);
  }
  std::filesystem::create_symlink("precious", "soft", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  std::filesystem::create_symlink("nowhere", "dangling", error);
  EXPECT_EQ(CreateNewTextFile(AUTO_NUMBER, "soft"), 0);
  EXPECT_EQ(CreateNewTextFile(AUTO_NUMBER, "dangling"), 0);
  EXPECT_EQ(FileContents("precious"), "keep me");
  EXPECT_FALSE(Exists("nowhere"));
}

// What an entry is, told without following a link there.
TEST_F(TextFileTest, KindsOfEntries) {
  PutFile("file", "x");
  ASSERT_TRUE(std::filesystem::create_directory("dir"));
  const FolderHandle here = HoldCurrentFolder();
  EXPECT_EQ(QueryEntryKind(here, "file"), PathKind::kFile);
  EXPECT_EQ(QueryEntryKind(here, "dir"), PathKind::kDirectory);
  EXPECT_EQ(QueryEntryKind(here, "missing"), PathKind::kNothing);
  EXPECT_EQ(QueryEntryKind(here, ""), PathKind::kNothing);
  EXPECT_EQ(QueryEntryKind(here, "dir\\file"), PathKind::kNothing);
  std::error_code error;
  std::filesystem::create_symlink("file", "link", error);
  if (!error) {
    EXPECT_EQ(QueryEntryKind(here, "link"), PathKind::kDevice);
  }
  ReleaseFolder(here);
}

TEST_F(TextFileTest, DirectoriesDoNotOpenAsFiles) {
  ASSERT_TRUE(std::filesystem::create_directory("dir"));
  EXPECT_EQ(OpenForReading(AUTO_NUMBER, "dir", OPTION_SHARE_READ), 0);
  EXPECT_EQ(OpenForUpdate(AUTO_NUMBER, "dir"), 0);
  EXPECT_EQ(CreateTextFile(AUTO_NUMBER, "dir"), 0);
  EXPECT_EQ(OpenForUpdate(AUTO_NUMBER, "dir", kAppendToLog), 0);
  EXPECT_TRUE(std::filesystem::is_directory("dir"));
}

TEST_F(TextFileTest, ShareModesOfTheOpens) {
  PutFile("f", "content\r\n");
  ObjectValue reader = OpenForReading(AUTO_NUMBER, "f", OPTION_SHARE_READ);
  ASSERT_NE(reader, 0);
  EXPECT_NE(OpenForReading(7, "f", OPTION_SHARE_READ), 0);
  CloseTextFile(7);
  // Readers that share reading keep writers and exclusive readers out.
  EXPECT_EQ(OpenForReading(AUTO_NUMBER, "f", 0), 0);
  EXPECT_EQ(OpenForUpdate(AUTO_NUMBER, "f", kAppendToLog), 0);
  EXPECT_EQ(CreateTextFile(AUTO_NUMBER, "f"), 0);
  EXPECT_EQ(ReadLine(reader).view(), "content");
  CloseTextFile(reader);

  // Log writers share with each other, but not with a reader that does not
  // share writing.
  ObjectValue log1 = OpenForUpdate(AUTO_NUMBER, "log", kAppendToLog);
  ObjectValue log2 = OpenForUpdate(AUTO_NUMBER, "log", kAppendToLog);
  EXPECT_NE(log1, 0);
  EXPECT_NE(log2, 0);
  EXPECT_EQ(OpenForReading(AUTO_NUMBER, "log", OPTION_SHARE_READ), 0);
  CloseTextFile(log1);
  CloseTextFile(log2);

  // A reader that shares writing lets a writer in that shares reading.
  ObjectValue sharing = OpenForReading(AUTO_NUMBER, "f", OPTION_SHARE_READ | OPTION_SHARE_WRITE);
  ASSERT_NE(sharing, 0);
  ObjectValue editor = OpenForUpdate(AUTO_NUMBER, "f", OPTION_SHARE_WRITE);
  EXPECT_NE(editor, 0);
  CloseTextFile(editor);
  CloseTextFile(sharing);

  // Without share options nobody else gets in.
  ObjectValue alone = OpenForUpdate(AUTO_NUMBER, "f", 0);
  ASSERT_NE(alone, 0);
  EXPECT_EQ(OpenForReading(AUTO_NUMBER, "f", OPTION_SHARE_READ), 0);
  EXPECT_EQ(OpenForUpdate(AUTO_NUMBER, "f", OPTION_SHARE_WRITE), 0);
  CloseTextFile(alone);
  EXPECT_EQ(FileContents("f"), "content\r\n");
}

TEST_F(TextFileTest, ShareModesHoldAcrossProcesses) {
  ASSERT_TRUE(std::filesystem::create_directory("raspuns"));
  ObjectValue handoff = CreateTextFile(AUTO_NUMBER, "raspuns\\cant.txt");
  ASSERT_NE(handoff, 0);
  WriteLine(handoff, "12.5");
  CloseTextFile(handoff);
  handoff = OpenForReading(AUTO_NUMBER, "raspuns\\cant.txt", OPTION_SHARE_READ);
  ASSERT_NE(handoff, 0);
  EXPECT_EQ(platform::RunTestChild("text_file_open read 1 raspuns\\cant.txt"), kOpened);
  EXPECT_EQ(platform::RunTestChild("text_file_open read 0 raspuns\\cant.txt"), kRefused);
  EXPECT_EQ(platform::RunTestChild("text_file_open create 0 raspuns\\cant.txt"), kRefused);
  EXPECT_EQ(platform::RunTestChild("text_file_open update 11 raspuns\\cant.txt"), kRefused);
  EXPECT_EQ(ReadLine(handoff).view(), "12.5");
  CloseTextFile(handoff);
  EXPECT_EQ(platform::RunTestChild("text_file_open read 0 raspuns\\cant.txt"), kOpened);

  ObjectValue log = OpenForUpdate(AUTO_NUMBER, "log.txt", kAppendToLog);
  ASSERT_NE(log, 0);
  EXPECT_EQ(platform::RunTestChild("text_file_open update 11 log.txt"), kOpened);
  EXPECT_EQ(platform::RunTestChild("text_file_open update 1 log.txt"), kRefused);
  CloseTextFile(log);
}

TEST_F(TextFileTest, ConcurrentAppendsLoseNoLine) {
  const int kRounds = 300;
  std::string why_not;
  std::unique_ptr<platform::TestChild> a =
      platform::TestChild::Start("text_file_append a " + std::to_string(kRounds), &why_not);
  ASSERT_NE(a, nullptr) << why_not;
  std::unique_ptr<platform::TestChild> b =
      platform::TestChild::Start("text_file_append b " + std::to_string(kRounds), &why_not);
  ASSERT_NE(b, nullptr) << why_not;
  // Both wait until both are ready, so that their appends overlap.
  ASSERT_TRUE(AwaitFile("ready-a"));
  ASSERT_TRUE(AwaitFile("ready-b"));
  PutFile("go", "");
  EXPECT_EQ(a->Wait(), 0);
  EXPECT_EQ(b->Wait(), 0);

  ObjectValue log = OpenForReading(AUTO_NUMBER, "log.txt", OPTION_SHARE_READ);
  ASSERT_NE(log, 0);
  // Each child's lines in its own order, whole, none missing.
  int next_a = 0, next_b = 0, damaged = 0;
  std::string first_damaged;
  for (Text line = ReadLine(log); !line.empty(); line = ReadLine(log)) {
    if (line.view() == "a " + std::to_string(next_a)) {
      ++next_a;
    } else if (line.view() == "b " + std::to_string(next_b)) {
      ++next_b;
    } else if (damaged++ == 0) {
      first_damaged = line.view();
    }
  }
  EXPECT_EQ(damaged, 0) << "first out of order or damaged: " << first_damaged;
  EXPECT_EQ(next_a, kRounds);
  EXPECT_EQ(next_b, kRounds);
}

}  // namespace
}  // namespace runtime
