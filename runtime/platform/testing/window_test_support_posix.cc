#include "runtime/platform/testing/window_test_support.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace runtime::platform {
namespace {

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char byte : text) {
    if (byte == '\'') {
      quoted += "'\\''";
    } else {
      quoted += byte;
    }
  }
  return quoted + "'";
}

// The X window that shows `title` exactly, or 0: of this process only with
// `own`.
unsigned long FindBox(const std::string& title, bool own = true) {
  const std::string command = "xdotool search --all --onlyvisible" +
                              (own ? " --pid " + std::to_string(getpid()) : std::string()) +
                              " --name " + Quoted("^" + title + "$") + " 2>/dev/null";
  FILE* output = popen(command.c_str(), "r");
  if (output == nullptr) return 0;
  unsigned long window = 0;
  if (std::fscanf(output, "%lu", &window) != 1) window = 0;
  pclose(output);
  return window;
}

// A local X display number that no server listens on.
std::string UnusedDisplayName() {
  int number = 4000;
  while (access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) == 0) ++number;
  return ":" + std::to_string(number);
}

class EnvironmentNoDisplay : public NoDisplay {
 public:
  explicit EnvironmentNoDisplay(Kind kind) {
    Hide("DISPLAY", &display_);
    Hide("WAYLAND_DISPLAY", &wayland_display_);
    if (kind == Kind::kUnreachable) setenv("DISPLAY", UnusedDisplayName().c_str(), 1);
  }
  ~EnvironmentNoDisplay() override {
    Restore("DISPLAY", display_);
    Restore("WAYLAND_DISPLAY", wayland_display_);
  }

  bool GuiLibraryLoaded() const override {
    void* gtk = dlopen("libgtk-3.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (gtk == nullptr) return false;
    dlclose(gtk);
    return true;
  }

 private:
  struct Saved {
    bool set = false;
    std::string value;
  };

  static void Hide(const char* name, Saved* saved) {
    const char* value = std::getenv(name);
    saved->set = value != nullptr;
    if (value != nullptr) saved->value = value;
    unsetenv(name);
  }

  static void Restore(const char* name, const Saved& saved) {
    if (saved.set) {
      setenv(name, saved.value.c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  Saved display_;
  Saved wayland_display_;
};

}  // namespace

ExclusiveDisplay::ExclusiveDisplay() {
  std::string display = "none";
  if (const char* name = std::getenv("DISPLAY"); name != nullptr && *name != '\0') display = name;
  for (char& byte : display) {
    if (byte == '/') byte = '_';
  }
  const std::string path = "/tmp/weigh-test-display-" + display + ".lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  // Without the lock file the test still runs, only without protection.
  if (fd >= 0) {
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  lock_ = fd;
}

ExclusiveDisplay::~ExclusiveDisplay() {
  if (lock_ >= 0) close(static_cast<int>(lock_));
}

std::unique_ptr<TestWindow> TestWindow::Create(const Look& /*look*/, std::string* why_not) {
  *why_not = "this process has no top-level windows of its own on this platform";
  return nullptr;
}

std::unique_ptr<TestWindow> TestWindow::CreateOnOwnThread(const Look& look, std::string* why_not) {
  return Create(look, why_not);
}

bool MessageBoxAnswerer::Available(std::string* why_not) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    *why_not = "DISPLAY is not set; run the tests under an X server (scripts/test starts Xvfb)";
    return false;
  }
  if (std::system("command -v xdotool >/dev/null 2>&1") != 0) {
    *why_not = "xdotool is not installed";
    return false;
  }
  return true;
}

bool MessageBoxAnswerer::BoxShown(const std::string& title) { return FindBox(title) != 0; }

WindowHandle MessageBoxAnswerer::OwnerOf(WindowHandle /*box*/) { return nullptr; }

WindowHandle MessageBoxAnswerer::FindAnyBox(const std::string& title) {
  return reinterpret_cast<WindowHandle>(FindBox(title, false));
}

bool MessageBoxAnswerer::StillShown(WindowHandle box) {
  const std::string command = "xdotool getwindowname " +
                              std::to_string(reinterpret_cast<unsigned long>(box)) +
                              " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool MessageBoxAnswerer::Press(WindowHandle box, Answer answer) {
  const char* key = answer == Answer::kOk ? "Return" : "Escape";
  // As an operator would: give the box the focus, then press the key.
  const std::string command = "timeout 10 xdotool windowfocus --sync " +
                              std::to_string(reinterpret_cast<unsigned long>(box)) +
                              " key --clearmodifiers " + key + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool MessageBoxAnswerer::ReadText(WindowHandle /*box*/, std::string* /*text*/) { return false; }

void MessageBoxAnswerer::Run() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!stop_ && std::chrono::steady_clock::now() < deadline) {
    const unsigned long box = FindBox(title_);
    if (box == 0) {
      usleep(50000);
      continue;
    }
    if (!answered_ && while_shown_) while_shown_(reinterpret_cast<WindowHandle>(box));
    if (Press(reinterpret_cast<WindowHandle>(box), answer_)) answered_ = true;
    // Press again only if the box is still there after a while.
    for (int i = 0; i < 10 && !stop_; ++i) usleep(50000);
  }
}

std::unique_ptr<NoDisplay> NoDisplay::Create(Kind kind, std::string* /*why_not*/) {
  return std::make_unique<EnvironmentNoDisplay>(kind);
}

}  // namespace runtime::platform

// GTK and the libraries under it keep caches (fonts, the session bus, type
// tables) until the process ends by design. The leak checker of a sanitizer
// build is told to ignore memory they allocated; nothing of this program
// lives in them.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgtk-3.so\n"
         "leak:libgdk-3.so\n"
         "leak:libglib-2.0.so\n"
         "leak:libgobject-2.0.so\n"
         "leak:libgio-2.0.so\n"
         "leak:libpango\n"
         "leak:libcairo\n"
         "leak:libfontconfig.so\n"
         "leak:libharfbuzz.so\n"
         "leak:libdbus-1.so\n"
         "leak:libatk\n"
         "leak:libX11.so\n";
}
