// The verdicts a weighing acts on and --check prints, where they turn on
// more than what is under a name.
#include "station/file_verdicts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/diagnosis.h"
#include "runtime/platform/testing/scratch_directory.h"
#include "runtime/program_heap.h"
#include "runtime/text_file.h"

namespace station {
namespace {

using runtime::platform::PutFile;
using runtime::platform::ScratchDirectory;
using std::filesystem::perms;

class FileVerdictsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    runtime::CreateProgramHeap();
    runtime::StartFiles();
  }
  void TearDown() override {
    std::filesystem::permissions(".", perms::owner_all);
    runtime::CloseAllFiles();
    runtime::DestroyProgramHeap();
  }

  ConfigVerdict JudgeConfigurationHere() {
    RunFolders folders;
    HoldRunFolders(&folders);
    const ConfigVerdict verdict = JudgeConfiguration(folders);
    ReleaseRunFolders(&folders);
    return verdict;
  }

  ScratchDirectory scratch_;
};

TEST_F(FileVerdictsTest, KavrinWithASecondNameIsReadOnlyWhereNoOtherUserMakesNames) {
  runtime::PathOwner owner;
  if (!runtime::QueryEntryOwnerIn(0, ".", &owner) || owner.mode == 0) {
    GTEST_SKIP() << "the system keeps no modes here: a second name is always refused";
  }
  PutFile("config", "COM7\r\n");
  std::error_code error;
  std::filesystem::create_hard_link("config", "Kavrin.inf", error);
  if (error) GTEST_SKIP() << "no hard links here: " << error.message();
  const struct {
    perms folder;
    ConfigVerdict::Action action;
  } kCases[] = {
      {perms::owner_all | perms::group_read | perms::group_exec, ConfigVerdict::Action::kRead},
      {perms::owner_all | perms::group_all, ConfigVerdict::Action::kRefuse},
      {perms::all | perms::sticky_bit, ConfigVerdict::Action::kRefuse},
  };
  for (const auto& one : kCases) {
    std::filesystem::permissions(".", one.folder);
    const ConfigVerdict verdict = JudgeConfigurationHere();
    EXPECT_EQ(verdict.action, one.action) << static_cast<int>(one.folder);
    EXPECT_EQ(verdict.names, 2u);
    if (one.action == ConfigVerdict::Action::kRead) {
      EXPECT_EQ(verdict.line.name.view(), "COM7");
    } else {
      EXPECT_EQ(verdict.why, Refusal::kSecondName);
      EXPECT_TRUE(verdict.line.name.empty());
    }
  }
  // A file of its own is read wherever it is.
  std::filesystem::remove("config");
  const ConfigVerdict alone = JudgeConfigurationHere();
  EXPECT_EQ(alone.action, ConfigVerdict::Action::kRead);
  EXPECT_EQ(alone.line.name.view(), "COM7");
}

// The verdicts are of the folders held at the start, whatever their names
// or the current folder lead to by the time they are judged: a name swapped
// in meanwhile is never what a weighing acts on, so it is never judged.
TEST_F(FileVerdictsTest, VerdictsSpeakOfTheHeldFoldersNotOfWhatTheirNamesNowReach) {
  PutFile("log.txt", "old\r\n");
  std::filesystem::create_directory("raspuns");
  std::filesystem::create_directory("elsewhere");
  RunFolders folders;
  HoldRunFolders(&folders);
  ASSERT_EQ(folders.handoffOutcome, runtime::FolderOutcome::kHeld);

  // Windows holds the current folder as the process's own: only POSIX lets
  // a name be looked up from a folder that is no longer current.
  if (!runtime::platform::PathsHaveDriveLetters()) {
    const std::filesystem::path station = std::filesystem::current_path();
    std::filesystem::current_path("elsewhere");
    const LogVerdict log = JudgeLog(folders);
    std::filesystem::current_path(station);
    EXPECT_EQ(log.action, LogVerdict::Action::kAppend) << RefusalWords(log.why);
  }

  // raspuns renamed away and a file put under its name: cant.txt is still
  // to be made in the held folder.
  std::error_code error;
  std::filesystem::rename("raspuns", "raspuns.held", error);
  if (!error) {
    PutFile("raspuns", "not a folder");
    const HandoffVerdict handoff = JudgeHandoff(folders, JudgeHandoffFolder(folders));
    EXPECT_EQ(handoff.action, HandoffVerdict::Action::kHandOver) << RefusalWords(handoff.why);
  } else {
    // Held without delete sharing: the name cannot be taken from it at all.
    EXPECT_EQ(JudgeHandoff(folders, JudgeHandoffFolder(folders)).action,
              HandoffVerdict::Action::kHandOver);
  }
  ReleaseRunFolders(&folders);
}

}  // namespace
}  // namespace station
