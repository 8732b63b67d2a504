#include "runtime/platform/testing/window_test_support.h"

#include <windows.h>

#include <chrono>

#include "runtime/platform/process_control.h"

namespace runtime::platform {
namespace {

constexpr char kClassName[] = "WeighTestWindow";

class Win32TestWindow : public TestWindow {
 public:
  ~Win32TestWindow() override {
    if (thread_ != nullptr) {
      PostMessageA(window_, WM_CLOSE, 0, 0);
      thread_->Join();
    } else if (window_ != nullptr) {
      DestroyWindow(window_);
    }
  }

  WindowHandle Handle() const override { return window_; }

  bool MakeForeground() override {
    SetForegroundWindow(window_);
    PumpMessages();
    return GetForegroundWindow() == window_;
  }

  bool DisabledWhileTopmost() const override { return disabled_while_topmost_; }

  // Makes the window on the calling thread; false when the platform refused.
  bool Make(const Look& look, bool own_thread) {
    static const ATOM registered = [] {
      WNDCLASSA window_class{};
      window_class.lpfnWndProc = WindowProcedure;
      window_class.hInstance = GetModuleHandleA(nullptr);
      window_class.lpszClassName = kClassName;
      return RegisterClassA(&window_class);
    }();
    if (registered == 0) return false;
    window_ = CreateWindowExA(look.topmost ? WS_EX_TOPMOST : 0, kClassName, "weigh test window",
                              WS_OVERLAPPEDWINDOW, 40, 40, 240, 120, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (window_ == nullptr) return false;
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (!look.enabled) EnableWindow(window_, FALSE);
    if (look.visible) ShowWindow(window_, own_thread ? SW_SHOW : SW_SHOWNOACTIVATE);
    PumpMessages();
    return true;
  }

  // Makes the window on a new thread that then serves it until WM_CLOSE.
  bool MakeOnOwnThread(const Look& look) {
    own_thread_ = true;
    HANDLE made = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool ok = false;
    thread_ = std::make_unique<TestThread>([this, &look, &ok, made] {
      // `look` and `ok` live on the caller's stack only until `made` is set.
      const bool window_made = Make(look, true);
      ok = window_made;
      SetEvent(made);
      if (!window_made) return;
      MSG message;
      while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    });
    WaitForSingleObject(made, INFINITE);
    CloseHandle(made);
    if (!ok) thread_.reset();
    return ok;
  }

 private:
  static void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<Win32TestWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr) {
      if (message == WM_ENABLE && wparam == FALSE &&
          (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0) {
        self->disabled_while_topmost_ = true;
      }
      if (message == WM_CLOSE && self->own_thread_) {
        DestroyWindow(window);
        self->window_ = nullptr;
        PostQuitMessage(0);
        return 0;
      }
    }
    return DefWindowProcA(window, message, wparam, lparam);
  }

  HWND window_ = nullptr;
  bool disabled_while_topmost_ = false;
  bool own_thread_ = false;
  std::unique_ptr<TestThread> thread_;
};

bool IsOwnBox(HWND box) {
  DWORD process = 0;
  GetWindowThreadProcessId(box, &process);
  return process == GetCurrentProcessId() && IsWindowVisible(box);
}

HWND FindOwnBox(const std::string& title) {
  HWND box = nullptr;
  while ((box = FindWindowExA(nullptr, box, "#32770", title.c_str())) != nullptr) {
    if (IsOwnBox(box)) return box;
  }
  return nullptr;
}

// The message of a box is the text of its static controls (the icon is one
// too, without text).
BOOL CALLBACK CollectStaticText(HWND child, LPARAM collected) {
  char class_name[16];
  if (GetClassNameA(child, class_name, sizeof(class_name)) > 0 &&
      lstrcmpiA(class_name, "Static") == 0) {
    // Read wide and given as UTF-8: a box may show letters that the ANSI
    // code page lacks.
    wchar_t buffer[1024];
    const int length = GetWindowTextW(child, buffer, sizeof(buffer) / sizeof(buffer[0]));
    char utf8[4096];
    const int size = length > 0 ? WideCharToMultiByte(CP_UTF8, 0, buffer, length, utf8,
                                                      sizeof(utf8), nullptr, nullptr)
                                : 0;
    if (size > 0) {
      reinterpret_cast<std::string*>(collected)->append(utf8, static_cast<std::size_t>(size));
    }
  }
  return TRUE;
}

}  // namespace

ExclusiveDisplay::ExclusiveDisplay() {
  // One wineserver (or Windows session) shares one foreground among all
  // processes; a named mutex gives the test processes turns.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "weigh-test-exclusive-display");
  if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
  lock_ = reinterpret_cast<std::intptr_t>(mutex);
}

ExclusiveDisplay::~ExclusiveDisplay() {
  HANDLE mutex = reinterpret_cast<HANDLE>(lock_);
  if (mutex == nullptr) return;
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

std::unique_ptr<TestWindow> TestWindow::Create(const Look& look, std::string* why_not) {
  auto window = std::make_unique<Win32TestWindow>();
  if (!window->Make(look, false)) {
    *why_not = "CreateWindowExA failed";
    return nullptr;
  }
  return window;
}

std::unique_ptr<TestWindow> TestWindow::CreateOnOwnThread(const Look& look, std::string* why_not) {
  auto window = std::make_unique<Win32TestWindow>();
  if (!window->MakeOnOwnThread(look)) {
    *why_not = "CreateWindowExA failed on the window's thread";
    return nullptr;
  }
  return window;
}

bool MessageBoxAnswerer::Available(std::string* why_not) {
  // Wine shows windows on an X display; without one MessageBoxA cannot work.
  if (RunningUnderWine() && GetEnvironmentVariableA("DISPLAY", nullptr, 0) == 0) {
    *why_not = "Wine needs an X display for message boxes and DISPLAY is not set";
    return false;
  }
  return true;
}

bool MessageBoxAnswerer::BoxShown(const std::string& title) { return FindOwnBox(title) != nullptr; }

WindowHandle MessageBoxAnswerer::OwnerOf(WindowHandle box) {
  return GetWindow(static_cast<HWND>(box), GW_OWNER);
}

WindowHandle MessageBoxAnswerer::FindAnyBox(const std::string& title) {
  HWND box = nullptr;
  while ((box = FindWindowExA(nullptr, box, "#32770", title.c_str())) != nullptr) {
    if (IsWindowVisible(box)) return box;
  }
  return nullptr;
}

bool MessageBoxAnswerer::StillShown(WindowHandle box) {
  return IsWindow(static_cast<HWND>(box)) && IsWindowVisible(static_cast<HWND>(box));
}

bool MessageBoxAnswerer::Press(WindowHandle box, Answer answer) {
  const WPARAM button = answer == Answer::kOk ? IDOK : IDCANCEL;
  const HWND window = static_cast<HWND>(box);
  // What pressing the button sends to the box.
  return PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(window, static_cast<int>(button)))) !=
         FALSE;
}

bool MessageBoxAnswerer::ReadText(WindowHandle box, std::string* text) {
  text->clear();
  EnumChildWindows(static_cast<HWND>(box), CollectStaticText, reinterpret_cast<LPARAM>(text));
  return true;
}

void MessageBoxAnswerer::Run() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!stop_ && std::chrono::steady_clock::now() < deadline) {
    HWND box = FindOwnBox(title_);
    if (box == nullptr) {
      Sleep(20);
      continue;
    }
    if (!answered_ && while_shown_) while_shown_(box);
    Press(box, answer_);
    answered_ = true;
    // Press again only if the box is still there after a while.
    for (int i = 0; i < 25 && !stop_ && IsWindow(box); ++i) Sleep(20);
  }
}

std::unique_ptr<NoDisplay> NoDisplay::Create(Kind /*kind*/, std::string* why_not) {
  *why_not = "a Windows process always has its window station; there is no display to hide";
  return nullptr;
}

}  // namespace runtime::platform
