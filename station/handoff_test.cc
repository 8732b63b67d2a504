// The record and handoff stages on their own, in a scratch folder. The
// conflict message with an operator pressing its button is covered end to
// end; here a message is read from standard error (natively, without a
// display) or from the box itself (on Windows).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <string>

#include "runtime/platform/file.h"
#include "runtime/platform/process_control.h"
#include "runtime/platform/testing/flush_watch.h"
#include "runtime/platform/testing/held_path.h"
#include "runtime/platform/testing/name_swapper.h"
#include "runtime/platform/testing/scratch_directory.h"
#include "runtime/platform/testing/window_test_support.h"
#include "runtime/program_heap.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
#include "station/station.h"

namespace station {
namespace {

using runtime::platform::FileContents;
using runtime::platform::GiveLinkToOtherUser;
using runtime::platform::PutFile;

using runtime::Text;

const std::string kStx(1, '\x02');
const std::string kDate = "[0-9]{4}/[0-9]{2}/[0-9]{2} - [0-9]{2}:[0-9]{2}:[0-9]{2} - ";

class StagesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    runtime::CreateProgramHeap();
    runtime::StartFiles();
  }
  void TearDown() override {
    runtime::CloseAllFiles();
    runtime::DestroyProgramHeap();
  }

  // The log's lines, each checked to end with CR LF, without it.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string log = FileContents("log.txt");
    std::size_t start = 0;
    for (std::size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(log.substr(start, end - start));
    }
    EXPECT_EQ(start, log.size()) << "the log does not end with CR LF";
    return lines;
  }

  runtime::platform::ScratchDirectory scratch_;
};

bool Matches(const std::string& line, const std::string& pattern) {
  return std::regex_match(line, std::regex(pattern));
}

// The message that tells the operator a value could not be handed over.
std::string NotWrittenMessage(const std::string& quantity) {
  return "Fisierul raspuns\\cant.txt nu poate fi scris\n!ATENTIE! - NU SE CALCULEAZA - "
         "!ATENTIE!\nCantitate Noua NETRATATA : " +
         quantity;
}

// The message that tells the operator the log did not get the run's line.
std::string LogLostMessage(const std::string& quantity) {
  return "Fisierul log.txt nu poate fi scris\nCantitate noua : " + quantity;
}

// Runs `stage` and returns what the message it showed said: its title, a
// line end and its text; empty when it showed none. Natively the display is
// taken away, so the message goes to standard error; on Windows the box is
// read and answered like an operator would.
std::string MessageShownBy(const std::function<void()>& stage) {
  std::string why_not;
  auto no_display =
      runtime::platform::NoDisplay::Create(runtime::platform::NoDisplay::Kind::kUnset, &why_not);
  if (no_display != nullptr) {
    testing::internal::CaptureStderr();
    stage();
    std::string written = testing::internal::GetCapturedStderr();
    if (!written.empty() && written.back() == '\n') written.pop_back();
    return written;
  }
  using runtime::platform::MessageBoxAnswerer;
  if (!MessageBoxAnswerer::Available(&why_not)) {
    ADD_FAILURE() << why_not;
    return "";
  }
  runtime::platform::ExclusiveDisplay display;
  std::string text;
  MessageBoxAnswerer answerer(
      "Eroare", MessageBoxAnswerer::Answer::kOk,
      [&text](runtime::platform::WindowHandle box) { MessageBoxAnswerer::ReadText(box, &text); });
  stage();
  return answerer.Finish() ? "Eroare\n" + text : "";
}

TEST_F(StagesTest, LogLineWithAndWithoutAPendingValue) {
  RecordStage(Text());
  std::filesystem::create_directory("raspuns");
  PutFile("raspuns/cant.txt", kStx + "12.40 x\r\nsecond line\r\n");
  RecordStage(Text(kStx + "12.85"));

  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(Matches(lines[0], kDate + " / Cantitate noua : ")) << lines[0];
  EXPECT_TRUE(Matches(lines[1], kDate + " / Cantitate netratata : \x02" + "12\\.40 x " +
                                    "Cantitate noua : \x02" + "12\\.85"))
      << lines[1];
}

TEST_F(StagesTest, LogContinuesAFileWithoutFinalLineEnd) {
  PutFile("log.txt", "old");
  // An empty first line of a pending file shows no pending segment.
  std::filesystem::create_directory("raspuns");
  PutFile("raspuns/cant.txt", "\r\nlater");
  RecordStage(Text("5"));
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(Matches(lines[0], "old" + kDate + " / Cantitate noua : 5")) << lines[0];
}

TEST_F(StagesTest, LogThatCannotBeOpenedWritesNothingElseAndSaysSo) {
  std::filesystem::create_directory("log.txt");
  EXPECT_EQ(MessageShownBy([] { RecordStage(Text("7")); }), "Eroare\n" + LogLostMessage("7"));
  EXPECT_TRUE(std::filesystem::is_directory("log.txt"));
  EXPECT_FALSE(std::filesystem::exists("raspuns"));
}

TEST_F(StagesTest, ALogLineCutShortIsToldAndTheValueStillHandedOver) {
  // The log is near a limit that the value's temporary is far from, as on
  // a disk that fills up while the log grows.
  PutFile("log.txt", std::string(50, 'x') + "\r\n");
  const std::string quantity = kStx + "8.25";
  std::string message;
  {
    runtime::platform::FileSizeLimit full(64);
    if (!full.ok()) GTEST_SKIP() << "no file size limit on this platform";
    message = MessageShownBy([&quantity] {
      RecordStage(Text(quantity));
      HandoffStage(Text(quantity));
    });
  }
  EXPECT_EQ(message, "Eroare\n" + LogLostMessage(quantity));
  EXPECT_EQ(FileContents("raspuns/cant.txt"), quantity + "\r\n");
  // Nothing of the lost line stays for the next run's line to continue.
  EXPECT_EQ(FileContents("log.txt"), std::string(50, 'x') + "\r\n");
}

TEST_F(StagesTest, HandoffWritesOneLineAndLeavesNothingElse) {
  HandoffStage(Text(kStx + "12.50"));
  EXPECT_EQ(FileContents("raspuns/cant.txt"), kStx + "12.50\r\n");
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator("raspuns")) {
    EXPECT_EQ(entry.path().filename(), "cant.txt");
    ++entries;
  }
  EXPECT_EQ(entries, 1u);

  // The consumer took it: the next value goes in.
  std::filesystem::remove("raspuns/cant.txt");
  HandoffStage(Text());
  EXPECT_EQ(FileContents("raspuns/cant.txt"), "\r\n");
}

TEST_F(StagesTest, PendingReadIsTheFirstLineAndLeavesFileZeroAlone) {
  // The configuration file stays open as number 0 through the whole run.
  PutFile("Kavrin.inf", "COM7\r\n");
  const runtime::FolderHandle here = runtime::HoldCurrentFolder();
  ASSERT_NE(runtime::OpenForUpdate(0, here, Text("Kavrin.inf"), runtime::OPTION_SHARE_READ), 0);
  runtime::ReleaseFolder(here);

  Text pending("stale");
  EXPECT_FALSE(ReadPendingQuantity(&pending));
  EXPECT_TRUE(pending.empty());

  std::filesystem::create_directory("raspuns");
  PutFile("raspuns/cant.txt", "");
  EXPECT_TRUE(ReadPendingQuantity(&pending));
  EXPECT_TRUE(pending.empty());
  PutFile("raspuns/cant.txt", "a\rb");
  EXPECT_TRUE(ReadPendingQuantity(&pending));
  EXPECT_EQ(pending.view(), "a");

  EXPECT_NE(runtime::IsFileOpen(0), 0);
  EXPECT_EQ(runtime::ReadLine(0).view(), "COM7");
}

TEST_F(StagesTest, HandoffFolderTakenByAFileChangesNothingAndSaysSo) {
  PutFile("raspuns", "not a folder");
  EXPECT_EQ(MessageShownBy([] { HandoffStage(Text("1")); }), "Eroare\n" + NotWrittenMessage("1"));
  EXPECT_EQ(FileContents("raspuns"), "not a folder");
}

TEST_F(StagesTest, ADirectoryUnderTheHandoffNameKeepsTheValueOutAndSaysSo) {
  std::filesystem::create_directories("raspuns/cant.txt");
  EXPECT_EQ(MessageShownBy([] { HandoffStage(Text(kStx + "4.20")); }),
            "Eroare\n" + NotWrittenMessage(kStx + "4.20"));
  EXPECT_TRUE(std::filesystem::is_directory("raspuns/cant.txt"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("raspuns"),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(StagesTest, AValueHeldByAnotherProgramIsNotReplacedAndTheNewOneIsNotLost) {
  // The consumer (or a virus scanner) has the waiting value open without
  // sharing it: it cannot be read, and it is not replaced either.
  std::filesystem::create_directory("raspuns");
  PutFile("raspuns/cant.txt", kStx + "1.00\r\n");
  const runtime::platform::FileHandle held =
      runtime::platform::OpenHeldPath("raspuns\\cant.txt", runtime::platform::kGenericRead, 0,
                                      runtime::platform::FileDisposition::kOpenExisting);
  ASSERT_NE(held, 0);
  EXPECT_EQ(MessageShownBy([] { HandoffStage(Text(kStx + "2.00")); }),
            "Eroare\n" + NotWrittenMessage(kStx + "2.00"));
  runtime::platform::CloseFileHandle(held);
  EXPECT_EQ(FileContents("raspuns/cant.txt"), kStx + "1.00\r\n");
}

TEST_F(StagesTest, AValueCutShortIsNeverHandedOver) {
  // Every write beyond 64 bytes fails, as on a full disk.
  std::filesystem::create_directory("raspuns");
  const std::string quantity = kStx + std::string(70, '9');
  std::string message;
  {
    runtime::platform::FileSizeLimit full(64);
    if (!full.ok()) GTEST_SKIP() << "no file size limit on this platform";
    message = MessageShownBy([&quantity] { HandoffStage(Text(quantity)); });
  }
  EXPECT_FALSE(std::filesystem::exists("raspuns/cant.txt"));
  EXPECT_TRUE(std::filesystem::is_empty("raspuns")) << "a temporary file was left behind";
  // What fitted of the message under the limit.
  const std::string start = "Eroare\nFisierul raspuns\\cant.txt nu poate fi scris";
  EXPECT_EQ(message.substr(0, start.size()), start);
}

TEST_F(StagesTest, TheLogLineAndTheValueAreFlushedWholeAndInThatOrder) {
  runtime::platform::FlushWatch watch(false);
  ASSERT_TRUE(watch.ok());
  RecordStage(Text(kStx + "3.25"));
  HandoffStage(Text(kStx + "3.25"));
  EXPECT_EQ(FileContents("raspuns/cant.txt"), kStx + "3.25\r\n");

  // The files flushed, with their sizes at the time: the log with its whole
  // line, then the temporary with the whole value before it got its name.
  std::vector<std::string> files;
  for (const runtime::platform::SeenFlush& flush : watch.seen()) {
    if (flush.directory) continue;
    files.push_back(std::to_string(flush.size) + " " + flush.name);
  }
  const std::string log_size = std::to_string(FileContents("log.txt").size());
  ASSERT_EQ(files.size(), 2u);
  // Where the platform can tell names, they must be the log and a temporary.
  EXPECT_TRUE(Matches(files[0], log_size + " (log\\.txt)?")) << files[0];
  EXPECT_TRUE(Matches(files[1], "7 (cant-[0-9a-f]{16}\\.tmp)?")) << files[1];
  // Where folders are flushed, the last flush is the handoff folder's, once
  // the value has its name and the temporary is gone.
  const std::vector<runtime::platform::SeenFlush> seen = watch.seen();
  if (!seen.empty() && seen.back().directory) EXPECT_EQ(seen.back().entries, "cant.txt ");
}

// Where folders are flushed at all: the station folder once raspuns is made
// in it, before the value's temporary is flushed, and raspuns last, once the
// value has its name and the temporary is gone. Nothing is flushed after.
TEST_F(StagesTest, FoldersAreFlushedOnceTheirNamesAreAsTheyStay) {
  const std::string station = std::filesystem::current_path().filename().string();
  runtime::platform::FlushWatch watch(false);
  ASSERT_TRUE(watch.ok());
  HandoffStage(Text(kStx + "4.40"));
  EXPECT_EQ(FileContents("raspuns/cant.txt"), kStx + "4.40\r\n");
  std::vector<std::string> flushes;
  bool folders = false;
  for (const runtime::platform::SeenFlush& flush : watch.seen()) {
    folders = folders || flush.directory;
    flushes.push_back(flush.directory ? "folder " + flush.name + ": " + flush.entries
                                      : "file " + std::to_string(flush.size));
  }
  if (!folders) {
    // Windows: the names are journaled, and the move writes through.
    EXPECT_EQ(flushes, std::vector<std::string>{"file 7"});
    return;
  }
  const std::vector<std::string> expected = {
      "folder " + station + ": raspuns ",
      "file 7",
      "folder raspuns: cant.txt ",
  };
  EXPECT_EQ(flushes, expected);
}

TEST_F(StagesTest, AFailedFlushKeepsTheValueOutAndSaysSoButKeepsTheLogLine) {
  const std::string quantity = kStx + "6.10";
  std::string message;
  {
    runtime::platform::FlushWatch watch(true);
    ASSERT_TRUE(watch.ok());
    // A line that may not be on the disk is told like a lost one.
    EXPECT_EQ(MessageShownBy([&quantity] { RecordStage(Text(quantity)); }),
              "Eroare\n" + LogLostMessage(quantity));
    message = MessageShownBy([&quantity] { HandoffStage(Text(quantity)); });
    EXPECT_GE(watch.seen().size(), 2u);
  }
  EXPECT_EQ(message, "Eroare\n" + NotWrittenMessage(quantity));
  EXPECT_FALSE(std::filesystem::exists("raspuns/cant.txt"));
  EXPECT_TRUE(std::filesystem::is_empty("raspuns")) << "a temporary file was left behind";
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(Matches(lines[0], kDate + " / Cantitate noua : \x02" + "6\\.10")) << lines[0];
}

TEST_F(StagesTest, ALinkPlantedUnderAGuessedTemporaryNameIsNotWrittenThrough) {
  // Temporary names were once the process id: plant links there and at a
  // few neighbours, to a file, to nothing, and as a hard link.
  std::filesystem::create_directory("raspuns");
  PutFile("precious", "keep me");
  const uint32_t pid = runtime::platform::CurrentProcessId();
  std::error_code error;
  for (const char* kind : {"soft", "dangling", "hard"}) {
    for (uint32_t id = pid > 2 ? pid - 2 : 0; id <= pid + 2; ++id) {
      const std::string name = "raspuns/cant-" + std::to_string(id) + ".tmp";
      std::filesystem::remove(name, error);
      if (std::string(kind) == "soft") std::filesystem::create_symlink("../precious", name, error);
      if (std::string(kind) == "dangling") std::filesystem::create_symlink("../gone", name, error);
      if (std::string(kind) == "hard") std::filesystem::create_hard_link("precious", name, error);
      if (error) GTEST_SKIP() << "cannot make " << kind << " links here: " << error.message();
    }
    std::filesystem::remove("raspuns/cant.txt", error);
    HandoffStage(Text(kStx + "7.77"));
    EXPECT_EQ(FileContents("precious"), "keep me") << kind;
    EXPECT_FALSE(std::filesystem::exists("gone")) << kind;
    EXPECT_TRUE(
        std::filesystem::is_regular_file(std::filesystem::symlink_status("raspuns/cant.txt")))
        << kind;
    EXPECT_EQ(FileContents("raspuns/cant.txt"), kStx + "7.77\r\n") << kind;
  }
}

TEST_F(StagesTest, OnlyTheStartOfAHugeWaitingValueIsRead) {
  std::filesystem::create_directory("raspuns");
  PutFile("raspuns/cant.txt", std::string(100000, '5') + "\r\n");
  Text pending;
  EXPECT_TRUE(ReadPendingQuantity(&pending));
  EXPECT_EQ(std::string(pending.view()), std::string(MAX_PENDING_LENGTH, '5'));
}

// Makes the symbolic link `name` to `target`, or says why not.
bool MakeLink(const std::string& target, const std::string& name, std::string* why_not) {
  std::error_code error;
  std::filesystem::create_symlink(target, name, error);
  if (error) *why_not = "cannot make links here: " + error.message();
  return !error;
}

TEST_F(StagesTest, ALinkUnderTheHandoffNameIsNeverReadAndKeepsTheValueOut) {
  std::filesystem::create_directory("raspuns");
  PutFile("shadow", "root:*:20228:0:::\r\n");
  std::string why_not;
  for (const char* target : {"../shadow", "../gone"}) {
    std::filesystem::remove("raspuns/cant.txt");
    if (!MakeLink(target, "raspuns/cant.txt", &why_not)) GTEST_SKIP() << why_not;
    Text pending;
    EXPECT_FALSE(ReadPendingQuantity(&pending)) << target;
    EXPECT_EQ(MessageShownBy([] { RecordStage(Text("5")); }), "") << target;
    EXPECT_EQ(MessageShownBy([] { HandoffStage(Text("5")); }), "Eroare\n" + NotWrittenMessage("5"))
        << target;
    EXPECT_TRUE(std::filesystem::is_symlink("raspuns/cant.txt")) << target;
  }
  EXPECT_EQ(FileContents("shadow"), "root:*:20228:0:::\r\n");
  EXPECT_FALSE(std::filesystem::exists("gone"));
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) EXPECT_TRUE(Matches(line, kDate + " / Cantitate noua : 5"));
}

TEST_F(StagesTest, LogAndHandoffFolderLinksAreFollowedOnlyWhenTrusted) {
  std::filesystem::create_directory("elsewhere");
  PutFile("profile", "trusted line\r\n");
  std::string why_not;
  if (!MakeLink("profile", "log.txt", &why_not) || !MakeLink("elsewhere", "raspuns", &why_not)) {
    GTEST_SKIP() << why_not;
  }
  // Links of this user (or root) are an administrator's set-up.
  EXPECT_EQ(MessageShownBy([] {
              RecordStage(Text("1"));
              HandoffStage(Text("1"));
            }),
            "");
  EXPECT_TRUE(
      Matches(FileContents("profile"), "trusted line\r\n" + kDate + " / Cantitate noua : 1\r\n"));
  EXPECT_EQ(FileContents("elsewhere/cant.txt"), "1\r\n");

  // The same links planted by another user: nothing goes through them, and
  // the value does not vanish unseen.
  if (!GiveLinkToOtherUser("log.txt", &why_not) || !GiveLinkToOtherUser("raspuns", &why_not)) {
    GTEST_SKIP() << why_not;
  }
  const std::string before = FileContents("profile");
  EXPECT_EQ(MessageShownBy([] { RecordStage(Text("2")); }),
            "Eroare\nFisierul log.txt nu poate fi scris\nCantitate noua : 2");
  EXPECT_EQ(FileContents("profile"), before);
  Text pending;
  EXPECT_FALSE(ReadPendingQuantity(&pending));
  std::filesystem::remove("elsewhere/cant.txt");
  EXPECT_EQ(MessageShownBy([] { HandoffStage(Text("2")); }), "Eroare\n" + NotWrittenMessage("2"));
  EXPECT_TRUE(std::filesystem::is_empty("elsewhere"));
}

TEST_F(StagesTest, FilesWithASecondNameAreNeitherReadNorWritten) {
  // Hard links to files of this user: the log, a waiting value and a
  // configuration small enough to be rewritten.
  PutFile("profile", "echo profile\n");
  PutFile("shadow", "root:*:20228:0:::\r\n");
  PutFile("flag", "1");
  std::filesystem::create_directory("raspuns");
  std::error_code error;
  std::filesystem::create_hard_link("profile", "log.txt", error);
  if (!error) std::filesystem::create_hard_link("shadow", "raspuns/cant.txt", error);
  if (!error) std::filesystem::create_hard_link("flag", "Kavrin.inf", error);
  if (error) GTEST_SKIP() << "cannot make hard links here: " << error.message();

  EXPECT_TRUE(AcquireQuantity().empty());
  Text pending;
  EXPECT_FALSE(ReadPendingQuantity(&pending));
  EXPECT_EQ(MessageShownBy([] { RecordStage(Text("5")); }), "Eroare\n" + LogLostMessage("5"));
  EXPECT_EQ(MessageShownBy([] { HandoffStage(Text("5")); }), "Eroare\n" + NotWrittenMessage("5"));
  EXPECT_EQ(FileContents("profile"), "echo profile\n");
  EXPECT_EQ(FileContents("shadow"), "root:*:20228:0:::\r\n");
  EXPECT_EQ(FileContents("flag"), "1");
}

TEST_F(StagesTest, AHandoffFolderOfAnotherUserIsNotUsed) {
  // Another user made "raspuns" first (in a sticky folder anyone may add
  // to): that user could take away or replace every value put there.
  std::filesystem::permissions(".",
                               std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
  std::filesystem::create_directory("raspuns");
  PutFile("raspuns/cant.txt", "planted\r\n");
  std::string why_not;
  if (!runtime::platform::GiveLinkToOtherUser("raspuns", &why_not)) GTEST_SKIP() << why_not;
  Text pending;
  EXPECT_FALSE(ReadPendingQuantity(&pending));
  std::filesystem::remove("raspuns/cant.txt");
  EXPECT_EQ(MessageShownBy([] {
              RecordStage(Text("4"));
              HandoffStage(Text("4"));
            }),
            "Eroare\n" + NotWrittenMessage("4"));
  EXPECT_TRUE(std::filesystem::is_empty("raspuns"));

  // This user's link to a link of another user: every link on the way
  // counts, not only the one under the name.
  std::filesystem::remove_all("raspuns");
  std::filesystem::create_directory("secret");
  if (!MakeLink("secret", "hop", &why_not) || !MakeLink("hop", "raspuns", &why_not) ||
      !runtime::platform::GiveLinkToOtherUser("hop", &why_not)) {
    GTEST_SKIP() << why_not;
  }
  EXPECT_EQ(MessageShownBy([] { HandoffStage(Text("4")); }), "Eroare\n" + NotWrittenMessage("4"));
  EXPECT_TRUE(std::filesystem::is_empty("secret"));
}

TEST_F(StagesTest, AHandoffFolderSwappedDuringRunsNeverLeadsElsewhere) {
  // Another user swaps "raspuns" with a link of theirs to a folder only
  // this user may use, over and over, while runs go on: no run may put
  // anything there, nor read what is there. Bounded in runs and in time.
  std::filesystem::create_directory("raspuns");
  std::filesystem::create_directory("secret");
  PutFile("secret/cant.txt", "SECRET\r\n");
  std::filesystem::permissions("secret", std::filesystem::perms::owner_all);
  std::filesystem::permissions(".", std::filesystem::perms::all);
  std::filesystem::permissions("raspuns", std::filesystem::perms::all);
  std::string why_not;
  if (!MakeLink(std::filesystem::absolute("secret").string(), "swap", &why_not) ||
      !runtime::platform::GiveLinkToOtherUser("swap", &why_not)) {
    GTEST_SKIP() << why_not;
  }
  int handed_over = 0;
  std::string messages;
  {
    auto swapper = runtime::platform::NameSwapper::Start("raspuns", "swap", "cant.txt", &why_not);
    if (swapper == nullptr) GTEST_SKIP() << why_not;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int run = 0; run < 300 && std::chrono::steady_clock::now() < end; ++run) {
      messages += MessageShownBy([] {
        RecordStage(Text("3"));
        HandoffStage(Text("3"));
      });
    }
    handed_over = swapper->Stop();
  }
  std::vector<std::string> secret;
  for (const auto& entry : std::filesystem::directory_iterator("secret")) {
    secret.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(secret, std::vector<std::string>{"cant.txt"});
  EXPECT_EQ(FileContents("secret/cant.txt"), "SECRET\r\n");
  EXPECT_EQ(messages.find("SECRET"), std::string::npos);
  EXPECT_EQ(FileContents("log.txt").find("SECRET"), std::string::npos);
  EXPECT_GT(handed_over, 0) << "no run got its value through";
}

TEST(TemporaryNameTest, FitsWindowsPathLimitWhereverTheValueFileDoes) {
  // Windows opens no full path longer than 259 characters; Wine does, so
  // the lengths are checked here. The current folder's path and a '\'
  // come before the name.
  const uint64_t random = 0x0123456789abcdefULL;
  const std::regex shape(R"(raspuns\\(cant-[0-9a-f]{16}|[0-9a-f]{4,16})\.tmp)");
  for (int32_t folder = 3; folder <= 259; ++folder) {
    const std::string name(TemporaryNameFor(folder, 259, random).view());
    EXPECT_TRUE(std::regex_match(name, shape)) << folder << ": " << name;
    const bool valueFileFits = folder + 1 + std::string("raspuns\\cant.txt").size() <= 259;
    if (valueFileFits) EXPECT_LE(folder + 1 + name.size(), 259u) << folder << ": " << name;
    // Unchanged where the usual name fits; else the random digits, as many
    // as fit (and so never fewer than 4).
    if (folder <= 259 - 1 - 33) {
      EXPECT_EQ(name, "raspuns\\cant-0123456789abcdef.tmp") << folder;
    } else if (valueFileFits) {
      const size_t digits = std::min<size_t>(16, 259 - 1 - folder - 12);
      EXPECT_EQ(name, "raspuns\\" + std::string("0123456789abcdef", digits) + ".tmp") << folder;
    }
  }
  // The current folder's own limit elsewhere (PATH_MAX on Linux).
  EXPECT_EQ(std::string(TemporaryNameFor(3000, 4095, random).view()),
            "raspuns\\cant-0123456789abcdef.tmp");
}

}  // namespace
}  // namespace station
