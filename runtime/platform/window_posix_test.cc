#include "runtime/platform/window_posix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "runtime/platform/window.h"

namespace runtime::platform {
namespace {

TEST(WindowPosixTest, Utf8IsShownAsItIs) {
  EXPECT_EQ(TextForDisplay(""), "");
  EXPECT_EQ(TextForDisplay("Cantitate netratata : \x02"
                           "12.40\n"),
            "Cantitate netratata : \x02"
            "12.40\n");
  // Two-, three- and four-byte sequences, the highest code point included.
  const char* valid = "\xc8\x9b \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf";
  EXPECT_EQ(TextForDisplay(valid), valid);
}

TEST(WindowPosixTest, OtherBytesAreReadAsLatin1) {
  // A lone Latin-1 byte, a truncated sequence at the end, overlong forms,
  // a surrogate and a code point above U+10FFFF are no UTF-8.
  EXPECT_EQ(TextForDisplay("caf\xe9"), "caf\xc3\xa9");
  EXPECT_EQ(TextForDisplay("a\xc8"), "a\xc3\x88");
  EXPECT_EQ(TextForDisplay("\xc0\xaf"), "\xc3\x80\xc2\xaf");
  EXPECT_EQ(TextForDisplay("\xe0\x80\xaf"), "\xc3\xa0\xc2\x80\xc2\xaf");
  EXPECT_EQ(TextForDisplay("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");
  EXPECT_EQ(TextForDisplay("\xf4\x90\x80\x80"), "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80");
  // One bad byte makes the whole text Latin-1, valid sequences included.
  EXPECT_EQ(TextForDisplay("\xc8\x9b\xff"), "\xc3\x88\xc2\x9b\xc3\xbf");
}

TEST(WindowPosixTest, TheProcessHasNoTopLevelWindows) {
  static int visited = 0;
  EnumerateTopLevelWindows([](WindowHandle) { ++visited; });
  EXPECT_EQ(visited, 0);
  EXPECT_EQ(ForegroundWindow(), nullptr);
}

TEST(WindowPosixTest, ThreadIdentifiersTellThreadsApart) {
  EXPECT_EQ(CurrentThreadId(), static_cast<uint32_t>(gettid()));
  uint32_t other = 0;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, CurrentThreadId());
  EXPECT_NE(other, 0u);
}

}  // namespace
}  // namespace runtime::platform
