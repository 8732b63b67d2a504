#ifndef WEIGH_RUNTIME_PLATFORM_TESTING_WINDOW_TEST_SUPPORT_H_
#define WEIGH_RUNTIME_PLATFORM_TESTING_WINDOW_TEST_SUPPORT_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/platform/testing/test_thread.h"
#include "runtime/platform/window.h"

namespace runtime::platform {

// For tests: a top-level window of this process, made by the test.
class TestWindow {
 public:
  struct Look {
    bool visible = true;
    bool enabled = true;
    bool topmost = false;
  };

  // Makes a window on the calling thread. Returns nullptr, with the reason in
  // `why_not`, on a platform where this process has no top-level windows.
  static std::unique_ptr<TestWindow> Create(const Look& look, std::string* why_not);

  // Makes a window on a thread of its own, which handles the window's
  // messages until the window is destroyed.
  static std::unique_ptr<TestWindow> CreateOnOwnThread(const Look& look, std::string* why_not);

  virtual ~TestWindow() = default;

  // The window, for the facility's queries.
  virtual WindowHandle Handle() const = 0;

  // Makes this the foreground window. False when the platform refused.
  virtual bool MakeForeground() = 0;

  // True when the window was ever disabled while it was still in the
  // always-on-top band.
  virtual bool DisabledWhileTopmost() const = 0;
};

// For tests: keeps the boxes of other test processes off this display while
// it lives, so that the foreground and the keyboard focus stay with this
// test's windows. Waits for its turn when it is made.
class ExclusiveDisplay {
 public:
  ExclusiveDisplay();
  ~ExclusiveDisplay();
  ExclusiveDisplay(const ExclusiveDisplay&) = delete;
  ExclusiveDisplay& operator=(const ExclusiveDisplay&) = delete;

 private:
  std::intptr_t lock_;
};

// For tests: answers a message box that this process shows, from a thread of
// its own, like an operator would: it waits until a box with the exact title
// is on the screen, calls `while_shown` with it (on its own thread), then
// presses OK (Return) or Cancel (Escape), and presses again while the box
// stays, until Finish. Natively it focuses the box and types the key with
// xdotool; on Windows it finds the box with FindWindowA("#32770", title) and
// sends it the button's command.
class MessageBoxAnswerer {
 public:
  enum class Answer { kOk, kCancel };

  // True when boxes can be shown and answered here; otherwise false with the
  // reason in `why_not` (no display, no xdotool).
  static bool Available(std::string* why_not);

  // True when a box of this process with the exact title is on the screen.
  static bool BoxShown(const std::string& title);

  // Returns the window that owns `box`, or nullptr.
  static WindowHandle OwnerOf(WindowHandle box);

  // Reads the message that `box` shows into `text`, in UTF-8. False where the
  // platform's box cannot be read back (a GTK label is not on the X server).
  static bool ReadText(WindowHandle box, std::string* text);

  // Returns a box with the exact title that any process shows, or nullptr:
  // for a tool that answers the boxes of another program, which it cannot
  // make call back into a test.
  static WindowHandle FindAnyBox(const std::string& title);

  // True while `box` is still on the screen.
  static bool StillShown(WindowHandle box);

  // Presses the button of `answer` on `box` once, as an operator would.
  // False when the press could not be delivered.
  static bool Press(WindowHandle box, Answer answer);

  MessageBoxAnswerer(std::string title, Answer answer,
                     std::function<void(WindowHandle box)> while_shown = nullptr);
  ~MessageBoxAnswerer();

  // Stops answering (call it once the box has returned) and reports whether
  // a box was seen and pressed.
  bool Finish();

 private:
  void Run();

  std::string title_;
  Answer answer_;
  std::function<void(WindowHandle)> while_shown_;
  std::atomic<bool> stop_{false};
  bool answered_ = false;
  std::unique_ptr<TestThread> thread_;
};

// For tests: takes the display away from this process while it lives, so
// that a box has nowhere to be shown.
class NoDisplay {
 public:
  enum class Kind {
    kUnset,        // no display is named at all
    kUnreachable,  // a display is named, but no server answers there
  };

  // Returns nullptr, with the reason in `why_not`, where a process cannot be
  // without a display.
  static std::unique_ptr<NoDisplay> Create(Kind kind, std::string* why_not);

  virtual ~NoDisplay() = default;

  // True when a GUI library has been loaded into this process.
  virtual bool GuiLibraryLoaded() const = 0;
};

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_TESTING_WINDOW_TEST_SUPPORT_H_
