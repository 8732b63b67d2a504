#include "runtime/message_box.h"

#include "runtime/object_table.h"
#include "runtime/platform/mutex.h"
#include "runtime/platform/process_control.h"
#include "runtime/platform/window.h"

namespace runtime {
namespace {

// A window that a box has changed or may have to give back.
struct SavedWindow {
  uint32_t thread;
  platform::WindowHandle window;
  uint8_t wasTopmost;
  uint8_t disabledHere;
};

// The saved windows of every thread that shows a box, newest first.
RecordNode* saved_windows = nullptr;

// Threads may show boxes at the same time, and pushing or unlinking a record
// rewrites its neighbours' links. The lock guards the links and the thread
// fields only; it is never held across a platform call, which may run a
// window procedure that shows a box of its own.
platform::Mutex saved_windows_lock;

// Returns the first record of `thread` after `after` (from the head when
// `after` is nullptr), or nullptr. `after` must be a linked record of the
// same thread: only that thread unlinks it.
SavedWindow* NextRecordOf(uint32_t thread, SavedWindow* after) {
  platform::MutexLock hold(&saved_windows_lock);
  // A record sits right after the two links of its node.
  RecordNode* node =
      after == nullptr ? saved_windows : (reinterpret_cast<RecordNode*>(after) - 1)->older;
  for (; node != nullptr; node = node->older) {
    auto* record = static_cast<SavedWindow*>(RecordOf(node));
    if (record->thread == thread) return record;
  }
  return nullptr;
}

void RecordWindow(platform::WindowHandle window) {
  const uint32_t thread = platform::CurrentThreadId();
  if (platform::WindowThreadId(window) != thread) return;
  if (!platform::IsVisibleWindow(window)) return;
  SavedWindow* record;
  {
    platform::MutexLock hold(&saved_windows_lock);
    record = static_cast<SavedWindow*>(PushRecord(&saved_windows, sizeof(SavedWindow)));
    // Without memory for a record the window is left as it is: what is not
    // recorded could not be given back.
    if (record == nullptr) return;
    record->thread = thread;
  }
  record->window = window;
  record->wasTopmost = platform::IsTopmostWindow(window) ? 1 : 0;
  // The foreground window stays usable; it is the box's owner.
  if (platform::ForegroundWindow() != window && platform::IsEnabledWindow(window)) {
    record->disabledHere = 1;
    platform::EnableTopLevelWindow(window, false);
  }
}

using PlatformBox = int32_t (*)(platform::WindowHandle owner, const char* text, const char* title,
                                uint32_t style);

int32_t ShowBox(PlatformBox show, const Text& title, const Text& text, uint32_t style) {
  const uint32_t thread = platform::CurrentThreadId();

  platform::EnumerateTopLevelWindows(RecordWindow);
  for (SavedWindow* record = NextRecordOf(thread, nullptr); record != nullptr;
       record = NextRecordOf(thread, record)) {
    if (record->wasTopmost) platform::SetWindowTopmost(record->window, false);
  }

  platform::WindowHandle owner = platform::ForegroundWindow();
  if (owner != nullptr && platform::WindowProcessId(owner) != platform::CurrentProcessId()) {
    owner = nullptr;
  }

  const int32_t result = show(owner, text.c_str(), title.c_str(), style);

  // Records of other threads stay for those threads to give back.
  for (SavedWindow* record = NextRecordOf(thread, nullptr); record != nullptr;
       record = NextRecordOf(thread, nullptr)) {
    if (record->disabledHere) platform::EnableTopLevelWindow(record->window, true);
    if (record->wasTopmost) platform::SetWindowTopmost(record->window, true);
    platform::MutexLock hold(&saved_windows_lock);
    UnlinkRecord(&saved_windows, record);
  }
  return result;
}

}  // namespace

void StartMessageBox() { platform::StartWindowSystem(); }

int32_t ShowMessageBox(const Text& title, const Text& text, uint32_t style) {
  return ShowBox(platform::ShowPlatformMessageBox, title, text, style);
}

int32_t ShowUtf8MessageBox(const Text& title, const Text& text, uint32_t style) {
  return ShowBox(platform::ShowPlatformUtf8MessageBox, title, text, style);
}

}  // namespace runtime
