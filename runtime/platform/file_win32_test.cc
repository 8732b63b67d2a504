// Appends on Windows take turns through a lock; a lock that another program
// holds for long must not keep them waiting.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "runtime/platform/clock.h"
#include "runtime/platform/file.h"
#include "runtime/platform/process_control.h"
#include "runtime/platform/testing/held_path.h"
#include "runtime/platform/testing/scratch_directory.h"
#include "runtime/platform/testing/test_child.h"

namespace runtime::platform {
namespace {

// How long a holding child keeps its lock when nobody lets it go: far longer
// than any append may wait.
constexpr int kHoldLimitMs = 30000;

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Child, "lock_hold RANGE PATH", RANGE "turn" (the appenders' turn-taking
// byte) or "whole" (0 to the largest offset, as backup tools do): locks
// that range of PATH, creates "held", and keeps the lock until "release"
// exists or kHoldLimitMs have passed; exits 0, or 2 when it could not lock.
// The end-to-end tests start it too, under Wine, beside weigh.exe.
int HoldLock(const std::string& range, const std::string& path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  OVERLAPPED at{};
  DWORD low = MAXDWORD, high = MAXDWORD;
  if (range == "turn") {
    at.Offset = 0xFFFFFF00;
    at.OffsetHigh = 0x7FFFFFFF;
    low = 1;
    high = 0;
  }
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, low, high, &at)) {
    return 2;
  }
  HANDLE held = CreateFileA("held", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(held);
  const int64_t until = MonotonicMilliseconds() + kHoldLimitMs;
  while (!Exists("release") && MonotonicMilliseconds() < until) SleepMilliseconds(10);
  UnlockFileEx(file, 0, low, high, &at);
  CloseHandle(file);
  return 0;
}

[[maybe_unused]] const bool kRanAsChild = [] {
  const char* task = std::getenv(kTestChildVariable);
  if (task == nullptr || !std::string_view(task).starts_with("lock_hold ")) return false;
  std::istringstream words(task);
  std::string verb, range, path;
  words >> verb >> range >> path;
  EndProcess(HoldLock(range, path));
}();

class AppendWhileLockedTest : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.ok()); }

  ScratchDirectory scratch_;
};

TEST_P(AppendWhileLockedTest, WriteWaitsAboutASecondAtMost) {
  const std::string range = GetParam();
  std::string why_not;
  std::unique_ptr<TestChild> holder = TestChild::Start("lock_hold " + range + " log", &why_not);
  ASSERT_NE(holder, nullptr) << why_not;
  const int64_t give_up = MonotonicMilliseconds() + 20000;
  while (!Exists("held") && MonotonicMilliseconds() < give_up) SleepMilliseconds(10);
  ASSERT_TRUE(Exists("held")) << "the child never locked the file";

  FileHandle log = OpenHeldPath("log", kGenericRead | kFileAppendData,
                                kFileShareRead | kFileShareWrite, FileDisposition::kOpenAlways);
  ASSERT_NE(log, 0);
  const int64_t started = MonotonicMilliseconds();
  const int32_t written = WriteToFile(log, "line\r\n", 6);
  const int64_t took = MonotonicMilliseconds() - started;
  CloseFileHandle(log);
  PutFile("release", "");
  EXPECT_EQ(holder->Wait(), 0);

  // About a second of waiting, with room for a loaded machine; without the
  // limit the write waits for the child's whole hold.
  EXPECT_GE(took, 900);
  EXPECT_LT(took, kHoldLimitMs / 3);
  if (range == "turn") {
    // Only the turn was taken: the line itself goes out.
    EXPECT_EQ(written, 6);
    EXPECT_EQ(FileContents("log"), "line\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Ranges, AppendWhileLockedTest, testing::Values("turn", "whole"));

}  // namespace
}  // namespace runtime::platform
