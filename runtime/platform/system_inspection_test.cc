// What both platforms' diagnosis backends must agree on.
#include "runtime/platform/system_inspection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/platform/testing/scratch_directory.h"

namespace runtime::platform {
namespace {

// The create probe of the folder `name` as held; a name that cannot be held
// as a folder (nothing there, a file) is no place to create in.
CreateAccess ProbeCreateInHeld(const char* name) {
  FolderOutcome outcome;
  const FolderHandle folder = HoldFolderIn(0, name, false, &outcome);
  if (folder == 0) return CreateAccess::kRefused;
  const CreateAccess access = ProbeCreateInFolder(folder);
  ReleaseFolder(folder);
  return access;
}

TEST(DiagnosisTest, CreateProbeTellsWhereFilesMayBeMadeWithoutChange) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.ok());
  PutFile("log.txt", "old\r\n");
  std::filesystem::create_directory("raspuns");
  EXPECT_NE(ProbeCreateInHeld("raspuns"), CreateAccess::kRefused);
  EXPECT_EQ(ProbeCreateInHeld("log.txt"), CreateAccess::kRefused);
  EXPECT_EQ(ProbeCreateInHeld("missing"), CreateAccess::kRefused);
  EXPECT_EQ(std::filesystem::path(CurrentDirectory()), std::filesystem::current_path());

  // A folder this user may not write in, where mode bits say so (root
  // writes anywhere, and then there is nothing to tell).
  if (!PathsHaveDriveLetters()) {
    EXPECT_EQ(ProbeCreateInFolder(0), CreateAccess::kAllowed);
    using std::filesystem::perms;
    std::filesystem::permissions("raspuns", perms::owner_read | perms::owner_exec);
    std::error_code error;
    if (!std::filesystem::create_directory("raspuns/try", error)) {
      EXPECT_EQ(ProbeCreateInHeld("raspuns"), CreateAccess::kRefused);
    }
    std::filesystem::permissions("raspuns", perms::owner_all);
  }
}

TEST(DiagnosisTest, ErrorsAndPortNamesReadAsTheSystemSaysThem) {
  // Code 2 is "no such file" on both platforms.
  const std::string text = SystemErrorText(2);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.find_first_not_of("0123456789 "), std::string::npos) << text;
  const std::string device = DevicePathOfPort("COM3");
  EXPECT_TRUE(device == "\\\\.\\COM3" || device == "/dev/ttyS2") << device;
}

TEST(DiagnosisTest, OwnerOfThisUsersFilesIsNoOtherUser) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.ok());
  PathOwner owner;
  EXPECT_FALSE(QueryEntryOwnerIn(0, "missing", &owner));
  PutFile("Kavrin.inf", "COM1\r\n");
  ASSERT_TRUE(QueryEntryOwnerIn(0, "Kavrin.inf", &owner));
  EXPECT_FALSE(owner.otherUser) << owner.name;
  EXPECT_FALSE(owner.name.empty());
  EXPECT_FALSE(owner.isDirectory);
  EXPECT_EQ(owner.links, 1u);
  std::error_code error;
  std::filesystem::create_hard_link("Kavrin.inf", "second_name", error);
  if (!error) {
    ASSERT_TRUE(QueryEntryOwnerIn(0, "Kavrin.inf", &owner));
    EXPECT_EQ(owner.links, 2u);
  }
  std::filesystem::create_directory("raspuns");
  ASSERT_TRUE(QueryEntryOwnerIn(0, "raspuns", &owner));
  EXPECT_TRUE(owner.isDirectory);
  EXPECT_FALSE(owner.otherUser) << owner.name;
}

}  // namespace
}  // namespace runtime::platform
