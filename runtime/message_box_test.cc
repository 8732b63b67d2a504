// Message boxes on a real display: natively a GTK dialog answered through
// the X server, on Windows (Wine) the platform box answered by its button.
#include "runtime/message_box.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "runtime/platform/testing/test_thread.h"
#include "runtime/platform/testing/window_test_support.h"
#include "runtime/platform/window.h"
#include "runtime/program_heap.h"

namespace runtime {
namespace {

using platform::MessageBoxAnswerer;
using platform::TestWindow;
using platform::WindowHandle;

constexpr uint32_t MB_OKCANCEL = 1;
constexpr int32_t IDCANCEL = 2;

const Text kTitle("Eroare");
const Text kConflict(
    "Cantitate netratata : \x02"
    "12.40\n!ATENTIE! - NU SE CALCULEAZA - !ATENTIE!\nCantitate Noua NETRATATA : \x02"
    "12.85");

// What a window looked like at one moment.
struct WindowState {
  bool enabled = false;
  bool topmost = false;
};

WindowState StateOf(WindowHandle window) {
  return WindowState{platform::IsEnabledWindow(window), platform::IsTopmostWindow(window)};
}

class MessageBoxTest : public testing::Test {
 protected:
  void SetUp() override {
    CreateProgramHeap();
    std::string why_not;
    if (!MessageBoxAnswerer::Available(&why_not)) GTEST_SKIP() << why_not;
    display_ = std::make_unique<platform::ExclusiveDisplay>();
  }
  void TearDown() override {
    display_.reset();
    DestroyProgramHeap();
  }

  // Makes a window of the test on the calling thread or skips the test.
  std::unique_ptr<TestWindow> MakeWindow(const TestWindow::Look& look) {
    std::string why_not;
    std::unique_ptr<TestWindow> window = TestWindow::Create(look, &why_not);
    if (window == nullptr) ADD_FAILURE() << why_not;
    return window;
  }

  std::unique_ptr<platform::ExclusiveDisplay> display_;
};

TEST_F(MessageBoxTest, OperatorPressingOkReturnsIdOkAndTheBoxGoes) {
  WindowHandle owner = reinterpret_cast<WindowHandle>(1);
  std::string shown_text;
  bool text_readable = false;
  MessageBoxAnswerer answerer("Eroare", MessageBoxAnswerer::Answer::kOk, [&](WindowHandle box) {
    owner = MessageBoxAnswerer::OwnerOf(box);
    text_readable = MessageBoxAnswerer::ReadText(box, &shown_text);
  });
  const int32_t result = ShowMessageBox(kTitle, kConflict);
  ASSERT_TRUE(answerer.Finish()) << "the box titled Eroare never appeared";
  EXPECT_EQ(result, IDOK);
  EXPECT_FALSE(MessageBoxAnswerer::BoxShown("Eroare"));
  // This process has no windows, so the box has no owner.
  EXPECT_EQ(owner, nullptr);
  if (text_readable) {
    EXPECT_EQ(shown_text, std::string(kConflict.view()));
  }
}

TEST_F(MessageBoxTest, AReportBoxShowsEveryLetterOfAPath) {
  // A folder named with the Romanian letters; ș and ț are in no ANSI code
  // page of a Latin Windows, and a best-fit ă reads as a.
  const std::string text =
      "Program file: C:\\c\xC3\xA2ntar-\xC4\x83\xC3\xAE\xC3\xA2\xC8\x99\xC8\x9B\\weigh.exe";
  std::string shown_text;
  bool text_readable = false;
  MessageBoxAnswerer answerer("weigh", MessageBoxAnswerer::Answer::kOk, [&](WindowHandle box) {
    text_readable = MessageBoxAnswerer::ReadText(box, &shown_text);
  });
  EXPECT_EQ(ShowUtf8MessageBox(Text("weigh"), Text(text)), IDOK);
  ASSERT_TRUE(answerer.Finish()) << "the box titled weigh never appeared";
  if (!text_readable) GTEST_SKIP() << "this platform's box cannot be read back";
  EXPECT_EQ(shown_text, text);
}

TEST_F(MessageBoxTest, StyleGoesToThePlatformAndItsResultComesBack) {
  MessageBoxAnswerer answerer("Eroare", MessageBoxAnswerer::Answer::kCancel);
  const int32_t result = ShowMessageBox(kTitle, Text("OK or Cancel?"), MB_OKCANCEL);
  ASSERT_TRUE(answerer.Finish()) << "the box titled Eroare never appeared";
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(MessageBoxTest, OtherWindowsOfTheThreadAreHeldWhileTheBoxIsShown) {
  std::string why_not;
  if (TestWindow::Create({}, &why_not) == nullptr) GTEST_SKIP() << why_not;

  // Another thread's window first: showing it may take the foreground.
  std::unique_ptr<TestWindow> other_thread =
      TestWindow::CreateOnOwnThread({.visible = true, .enabled = true, .topmost = true}, &why_not);
  ASSERT_NE(other_thread, nullptr) << why_not;
  auto plain = MakeWindow({.visible = true, .enabled = true, .topmost = false});
  auto topmost = MakeWindow({.visible = true, .enabled = true, .topmost = true});
  auto already_disabled = MakeWindow({.visible = true, .enabled = false, .topmost = true});
  auto hidden = MakeWindow({.visible = false, .enabled = true, .topmost = true});
  auto foreground = MakeWindow({.visible = true, .enabled = true, .topmost = true});
  ASSERT_FALSE(HasFailure());
  if (!foreground->MakeForeground()) GTEST_SKIP() << "the platform refused SetForegroundWindow";
  ASSERT_EQ(platform::ForegroundWindow(), foreground->Handle());

  WindowState plain_shown, topmost_shown, disabled_shown, hidden_shown, other_shown,
      foreground_shown;
  WindowHandle owner = nullptr;
  MessageBoxAnswerer answerer("Eroare", MessageBoxAnswerer::Answer::kOk, [&](WindowHandle box) {
    plain_shown = StateOf(plain->Handle());
    topmost_shown = StateOf(topmost->Handle());
    disabled_shown = StateOf(already_disabled->Handle());
    hidden_shown = StateOf(hidden->Handle());
    other_shown = StateOf(other_thread->Handle());
    foreground_shown = StateOf(foreground->Handle());
    owner = MessageBoxAnswerer::OwnerOf(box);
  });
  const int32_t result = ShowMessageBox(kTitle, kConflict);
  ASSERT_TRUE(answerer.Finish()) << "the box titled Eroare never appeared";
  EXPECT_EQ(result, IDOK);

  // While the box was shown.
  EXPECT_EQ(owner, foreground->Handle());
  EXPECT_FALSE(plain_shown.enabled);
  EXPECT_FALSE(topmost_shown.enabled);
  EXPECT_FALSE(topmost_shown.topmost);
  EXPECT_FALSE(disabled_shown.enabled);
  EXPECT_FALSE(disabled_shown.topmost);
  EXPECT_TRUE(hidden_shown.enabled);
  EXPECT_TRUE(hidden_shown.topmost);
  EXPECT_TRUE(other_shown.enabled);
  EXPECT_TRUE(other_shown.topmost);
  EXPECT_FALSE(foreground_shown.topmost);
  // The box itself disables its owner; the service must not have done so
  // before, while the window was still topmost.
  EXPECT_FALSE(foreground->DisabledWhileTopmost());
  EXPECT_TRUE(topmost->DisabledWhileTopmost());

  // Afterwards every window is as it was.
  EXPECT_TRUE(platform::IsEnabledWindow(plain->Handle()));
  EXPECT_FALSE(platform::IsTopmostWindow(plain->Handle()));
  EXPECT_TRUE(platform::IsEnabledWindow(topmost->Handle()));
  EXPECT_TRUE(platform::IsTopmostWindow(topmost->Handle()));
  EXPECT_FALSE(platform::IsEnabledWindow(already_disabled->Handle()));
  EXPECT_TRUE(platform::IsTopmostWindow(already_disabled->Handle()));
  EXPECT_TRUE(platform::IsEnabledWindow(hidden->Handle()));
  EXPECT_TRUE(platform::IsTopmostWindow(hidden->Handle()));
  EXPECT_TRUE(platform::IsEnabledWindow(other_thread->Handle()));
  EXPECT_TRUE(platform::IsTopmostWindow(other_thread->Handle()));
  EXPECT_TRUE(platform::IsEnabledWindow(foreground->Handle()));
  EXPECT_TRUE(platform::IsTopmostWindow(foreground->Handle()));
}

TEST_F(MessageBoxTest, ABoxOnAnotherThreadGivesBackOnlyItsOwnWindows) {
  std::string why_not;
  if (TestWindow::Create({}, &why_not) == nullptr) GTEST_SKIP() << why_not;

  auto mine = MakeWindow({.visible = true, .enabled = true, .topmost = true});
  ASSERT_FALSE(HasFailure());
  WindowState mine_after_other_box;
  WindowState theirs_during_other_box;
  bool theirs_restored = false;
  bool other_answered = false;
  int32_t other_result = 0;

  // While this thread's box is up, a second thread shows a box of its own
  // and has it answered; this thread's window must stay held meanwhile.
  MessageBoxAnswerer answerer("Eroare", MessageBoxAnswerer::Answer::kOk, [&](WindowHandle) {
    platform::TestThread other([&] {
      std::string reason;
      auto theirs =
          TestWindow::Create({.visible = true, .enabled = true, .topmost = true}, &reason);
      if (theirs == nullptr) return;
      MessageBoxAnswerer other_answerer(
          "Eroare 2", MessageBoxAnswerer::Answer::kOk,
          [&](WindowHandle) { theirs_during_other_box = StateOf(theirs->Handle()); });
      other_result = ShowMessageBox(Text("Eroare 2"), Text("second"));
      other_answered = other_answerer.Finish();
      theirs_restored = platform::IsEnabledWindow(theirs->Handle()) &&
                        platform::IsTopmostWindow(theirs->Handle());
    });
    other.Join();
    mine_after_other_box = StateOf(mine->Handle());
  });
  const int32_t result = ShowMessageBox(kTitle, kConflict);
  ASSERT_TRUE(answerer.Finish()) << "the box titled Eroare never appeared";
  ASSERT_TRUE(other_answered) << "the box titled Eroare 2 never appeared";
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(other_result, IDOK);

  EXPECT_FALSE(theirs_during_other_box.topmost);
  EXPECT_TRUE(theirs_restored);
  EXPECT_FALSE(mine_after_other_box.enabled);
  EXPECT_FALSE(mine_after_other_box.topmost);
  EXPECT_TRUE(platform::IsEnabledWindow(mine->Handle()));
  EXPECT_TRUE(platform::IsTopmostWindow(mine->Handle()));
}

// Shows the conflict message with the display taken away; returns what the
// box wrote to standard error, and its result in `result`.
std::string ShowWithoutDisplay(int32_t* result) {
  CreateProgramHeap();
  testing::internal::CaptureStderr();
  *result = ShowMessageBox(kTitle, kConflict);
  std::string written = testing::internal::GetCapturedStderr();
  DestroyProgramHeap();
  return written;
}

TEST(MessageBoxFallbackTest, WithoutADisplayTheMessageGoesToStandardError) {
  std::string why_not;
  auto no_display = platform::NoDisplay::Create(platform::NoDisplay::Kind::kUnset, &why_not);
  if (no_display == nullptr) GTEST_SKIP() << why_not;
  if (no_display->GuiLibraryLoaded()) {
    GTEST_SKIP() << "an earlier test in this process loaded GTK; run this test on its own";
  }
  int32_t result = -1;
  EXPECT_EQ(ShowWithoutDisplay(&result), "Eroare\n" + std::string(kConflict.view()) + "\n");
  EXPECT_EQ(result, 0);
  // A run that shows nothing on a screen loads no GUI library.
  EXPECT_FALSE(no_display->GuiLibraryLoaded());
}

TEST(MessageBoxFallbackTest, ADisplayThatDoesNotAnswerFallsBackToo) {
  std::string why_not;
  auto no_display = platform::NoDisplay::Create(platform::NoDisplay::Kind::kUnreachable, &why_not);
  if (no_display == nullptr) GTEST_SKIP() << why_not;
  // GTK, once loaded, keeps the display it opened first: the box would show
  // there and wait for an answer nobody gives.
  if (no_display->GuiLibraryLoaded()) {
    GTEST_SKIP() << "an earlier test in this process loaded GTK; run this test on its own";
  }
  int32_t result = -1;
  const std::string written = ShowWithoutDisplay(&result);
  // GTK may warn first; the message ends what was written.
  const std::string message = "Eroare\n" + std::string(kConflict.view()) + "\n";
  ASSERT_GE(written.size(), message.size()) << written;
  EXPECT_EQ(written.substr(written.size() - message.size()), message);
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace runtime
