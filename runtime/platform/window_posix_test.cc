#include "runtime/platform/window_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "runtime/platform/testing/window_test_support.h"
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

TEST(WindowPosixTest, ControlBytesAreNamedForATerminal) {
  EXPECT_EQ(TextForTerminal("Cantitate : \x02"
                            "12.40\n\x1b]0;owned\x07\x1b[2J\r\x7f\x01"),
            "Cantitate : <STX>12.40\n<ESC>]0;owned<BEL><ESC>[2J<CR><DEL><SOH>");
  // C1 controls: a UTF-8 character in UTF-8 text, a raw byte in any other;
  // other characters stay as they are.
  EXPECT_EQ(TextForTerminal("\xc8\x9b \xc2\x9b"
                            "31m \xc2\xa0"),
            "\xc8\x9b <0x9B>31m \xc2\xa0");
  EXPECT_EQ(TextForTerminal("caf\xe9 \x9b"
                            "31m"),
            "caf\xe9 <0x9B>31m");
}

// What a box without a display writes when standard error is `target`
// (the write end of a pipe or a terminal), read back from `source`.
std::string WrittenThrough(int target, int source) {
  const int saved = dup(STDERR_FILENO);
  dup2(target, STDERR_FILENO);
  ShowPlatformMessageBox(nullptr,
                         "a\x1b[2Jb\x02"
                         "7\n!",
                         "Eroare", 0);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string written;
  char bytes[256];
  pollfd ready = {source, POLLIN, 0};
  while (poll(&ready, 1, 200) == 1) {
    const ssize_t got = read(source, bytes, sizeof(bytes));
    if (got <= 0) break;
    written.append(bytes, static_cast<size_t>(got));
  }
  return written;
}

TEST(WindowPosixTest, ABoxOnATerminalNamesControlBytesAndElsewhereKeepsThem) {
  std::string why_not;
  auto no_display = NoDisplay::Create(NoDisplay::Kind::kUnset, &why_not);
  if (no_display == nullptr) GTEST_SKIP() << why_not;
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  EXPECT_EQ(WrittenThrough(ends[1], ends[0]),
            "Eroare\na\x1b[2Jb\x02"
            "7\n!\n");
  close(ends[0]);
  close(ends[1]);

  int master = -1;
  int terminal = -1;
  ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  termios settings;
  ASSERT_EQ(tcgetattr(terminal, &settings), 0);
  cfmakeraw(&settings);
  ASSERT_EQ(tcsetattr(terminal, TCSANOW, &settings), 0);
  EXPECT_EQ(WrittenThrough(terminal, master), "Eroare\na<ESC>[2Jb<STX>7\n!\n");
  close(master);
  close(terminal);
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
