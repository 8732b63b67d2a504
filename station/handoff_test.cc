// The record and handoff stages on their own, in a scratch folder. The
// conflict message itself is covered end to end, where an operator can
// press its button.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "runtime/platform/process.h"
#include "runtime/platform/scratch_directory.h"
#include "runtime/program_heap.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
#include "station/station.h"

namespace station {
namespace {

using runtime::platform::FileContents;
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

TEST_F(StagesTest, LogThatCannotBeOpenedWritesNothingElse) {
  std::filesystem::create_directory("log.txt");
  RecordStage(Text("7"));
  EXPECT_TRUE(std::filesystem::is_directory("log.txt"));
  EXPECT_FALSE(std::filesystem::exists("raspuns"));
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
  ASSERT_NE(runtime::OpenForUpdate(0, Text("Kavrin.inf")), 0);

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

TEST_F(StagesTest, HandoffFolderTakenByAFileChangesNothing) {
  PutFile("raspuns", "not a folder");
  HandoffStage(Text("1"));
  EXPECT_EQ(FileContents("raspuns"), "not a folder");
}

TEST_F(StagesTest, AValueCutShortIsNeverHandedOver) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  // The value is first written under this process's temporary name; make
  // every write to it fail as on a full disk.
  std::filesystem::create_directory("raspuns");
  const std::string temporary =
      "raspuns/cant-" + std::to_string(runtime::platform::CurrentProcessId()) + ".tmp";
  std::filesystem::create_symlink("/dev/full", temporary);
  HandoffStage(Text(kStx + "9.99"));
  EXPECT_FALSE(std::filesystem::exists("raspuns/cant.txt"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(temporary)));
}

}  // namespace
}  // namespace station
