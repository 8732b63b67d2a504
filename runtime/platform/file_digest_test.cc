// The digest must be the file's true SHA-256 or none at all: a wrong value
// on a station would name another program.
#include "runtime/platform/file_digest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/platform/testing/scratch_directory.h"

namespace runtime::platform {
namespace {

TEST(FileDigestTest, GivesTheStandardDigestsOfShortAndLongFiles) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.ok());
  // The published SHA-256 examples; the million bytes take many reads.
  const struct {
    std::string bytes;
    const char* sha256;
  } kCases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& one : kCases) {
    PutFile("data", one.bytes);
    const FileDigest digest = Sha256OfFile("data");
    EXPECT_EQ(digest.sha256, one.sha256) << one.bytes.size() << " bytes: " << digest.failure;
    EXPECT_EQ(digest.failure, "");
    EXPECT_EQ(digest.path, "data");
  }
}

TEST(FileDigestTest, AFileThatCannotBeReadGivesAReasonAndNoDigest) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.ok());
  std::filesystem::create_directory("folder");
  for (const char* path : {"missing", "folder"}) {
    const FileDigest digest = Sha256OfFile(path);
    EXPECT_EQ(digest.sha256, "") << path;
    EXPECT_NE(digest.failure.find("cannot be"), std::string::npos)
        << path << ": " << digest.failure;
    EXPECT_NE(digest.failure.find("system code"), std::string::npos)
        << path << ": " << digest.failure;
  }
}

TEST(FileDigestTest, TheProgramFileIsTheRunningTestProgram) {
  const FileDigest program = Sha256OfProgramFile();
  ASSERT_EQ(program.failure, "");
  ASSERT_EQ(program.sha256.size(), 64u);
  const std::filesystem::path path(program.path);
  EXPECT_EQ(path.stem().string(), "platform_test") << program.path;
  EXPECT_EQ(Sha256OfFile(program.path).sha256, program.sha256);
}

}  // namespace
}  // namespace runtime::platform
