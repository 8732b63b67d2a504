#include "runtime/platform/window_posix.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "runtime/platform/window.h"

namespace runtime::platform {
namespace {

// Button identifiers as the Windows box returns them.
constexpr int32_t IDOK = 1;
constexpr int32_t IDCANCEL = 2;
constexpr int32_t IDABORT = 3;
constexpr int32_t IDRETRY = 4;
constexpr int32_t IDIGNORE = 5;
constexpr int32_t IDYES = 6;
constexpr int32_t IDNO = 7;
constexpr int32_t IDTRYAGAIN = 10;
constexpr int32_t IDCONTINUE = 11;

// GTK's values that are used here.
constexpr int GTK_DIALOG_MODAL = 1;
constexpr int GTK_MESSAGE_INFO = 0;
constexpr int GTK_MESSAGE_WARNING = 1;
constexpr int GTK_MESSAGE_QUESTION = 2;
constexpr int GTK_MESSAGE_ERROR = 3;
constexpr int GTK_MESSAGE_OTHER = 4;
constexpr int GTK_BUTTONS_NONE = 0;
constexpr int GTK_WIN_POS_CENTER = 1;

struct Button {
  const char* label;
  int32_t id;
};

// The buttons of each Windows button set (the low four bits of the style).
struct ButtonSet {
  Button buttons[3];
  int count;
};

constexpr ButtonSet kButtonSets[] = {
    {{{"_OK", IDOK}}, 1},
    {{{"_OK", IDOK}, {"_Cancel", IDCANCEL}}, 2},
    {{{"_Abort", IDABORT}, {"_Retry", IDRETRY}, {"_Ignore", IDIGNORE}}, 3},
    {{{"_Yes", IDYES}, {"_No", IDNO}, {"_Cancel", IDCANCEL}}, 3},
    {{{"_Yes", IDYES}, {"_No", IDNO}}, 2},
    {{{"_Retry", IDRETRY}, {"_Cancel", IDCANCEL}}, 2},
    {{{"_Cancel", IDCANCEL}, {"_Try Again", IDTRYAGAIN}, {"_Continue", IDCONTINUE}}, 3},
};

// GTK 3, loaded only when a box must be shown so that a run that shows
// nothing loads no GUI library. Its objects are opaque pointers here.
struct Gtk {
  int (*init_check)(int*, char***);
  void (*disable_setlocale)();
  void* (*message_dialog_new)(void*, int, int, int, const char*, ...);
  void (*window_set_title)(void*, const char*);
  void (*window_set_position)(void*, int);
  void* (*dialog_add_button)(void*, const char*, int);
  void (*dialog_set_default_response)(void*, int);
  int (*dialog_run)(void*);
  void (*widget_destroy)(void*);
  int (*events_pending)();
  void (*main_iteration)();
};

template <typename Function>
bool Find(void* library, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(dlsym(library, name));
  return *function != nullptr;
}

// Returns GTK, or nullptr when it is not installed. Loaded once and kept: a
// GUI library cannot be unloaded safely.
const Gtk* LoadGtk() {
  static bool tried = false;
  static Gtk gtk;
  static bool found = false;
  if (tried) return found ? &gtk : nullptr;
  tried = true;
  void* library = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  found = Find(library, "gtk_init_check", &gtk.init_check) &&
          Find(library, "gtk_disable_setlocale", &gtk.disable_setlocale) &&
          Find(library, "gtk_message_dialog_new", &gtk.message_dialog_new) &&
          Find(library, "gtk_window_set_title", &gtk.window_set_title) &&
          Find(library, "gtk_window_set_position", &gtk.window_set_position) &&
          Find(library, "gtk_dialog_add_button", &gtk.dialog_add_button) &&
          Find(library, "gtk_dialog_set_default_response", &gtk.dialog_set_default_response) &&
          Find(library, "gtk_dialog_run", &gtk.dialog_run) &&
          Find(library, "gtk_widget_destroy", &gtk.widget_destroy) &&
          Find(library, "gtk_events_pending", &gtk.events_pending) &&
          Find(library, "gtk_main_iteration", &gtk.main_iteration);
  if (!found) return nullptr;
  // The program's own texts are bytes; GTK must not switch the process to the
  // user's locale behind its back.
  gtk.disable_setlocale();
  return &gtk;
}

bool HasDisplay() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF), as GTK demands of what it shows.
bool IsUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t extra = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (bytes.size() - i <= extra) return false;
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    if (second < low || second > high) return false;
    for (std::size_t k = 2; k <= extra; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

const char* const kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                       "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                       "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                       "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

void AppendHexName(unsigned char code, std::string* out) {
  char name[8];
  std::snprintf(name, sizeof(name), "<0x%02X>", code);
  *out += name;
}

void WriteAll(const char* bytes, std::size_t size) {
  while (size > 0) {
    ssize_t written = write(STDERR_FILENO, bytes, size);
    if (written <= 0) return;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

int MessageType(uint32_t style) {
  switch (style & 0xF0) {
    case 0x10:
      return GTK_MESSAGE_ERROR;
    case 0x20:
      return GTK_MESSAGE_QUESTION;
    case 0x30:
      return GTK_MESSAGE_WARNING;
    case 0x40:
      return GTK_MESSAGE_INFO;
    default:
      return GTK_MESSAGE_OTHER;
  }
}

int32_t RunDialog(const Gtk& gtk, const char* text, const char* title, uint32_t style) {
  const uint32_t set_index = style & 0xF;
  const ButtonSet& set = kButtonSets[set_index < std::size(kButtonSets) ? set_index : 0];
  void* dialog = gtk.message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageType(style),
                                        GTK_BUTTONS_NONE, "%s", TextForDisplay(text).c_str());
  if (dialog == nullptr) return 0;
  gtk.window_set_title(dialog, TextForDisplay(title).c_str());
  gtk.window_set_position(dialog, GTK_WIN_POS_CENTER);
  bool has_cancel = false;
  for (int i = 0; i < set.count; ++i) {
    gtk.dialog_add_button(dialog, set.buttons[i].label, set.buttons[i].id);
    has_cancel = has_cancel || set.buttons[i].id == IDCANCEL;
  }
  // MB_DEFBUTTON2..4 name the default button; the first is the default
  // otherwise.
  const int default_index = static_cast<int>((style >> 8) & 0xF);
  gtk.dialog_set_default_response(dialog,
                                  set.buttons[default_index < set.count ? default_index : 0].id);

  int32_t result = 0;
  while (result == 0) {
    const int response = gtk.dialog_run(dialog);
    if (response > 0) {
      result = response;
    } else if (set.count == 1) {
      // Closing a box that has only OK counts as OK, as on Windows.
      result = set.buttons[0].id;
    } else if (has_cancel) {
      result = IDCANCEL;
    }
    // Otherwise the box has no way out but its buttons: show it again.
  }
  gtk.widget_destroy(dialog);
  // Let GTK take the window off the screen before returning.
  while (gtk.events_pending()) gtk.main_iteration();
  return result;
}

}  // namespace

// The program's texts are 8-bit bytes of no declared character set.
std::string TextForDisplay(const char* bytes) {
  const std::string_view in(bytes);
  if (IsUtf8(in)) return std::string(in);
  std::string latin1;
  latin1.reserve(in.size() * 2);
  for (char byte : in) {
    const auto code = static_cast<unsigned char>(byte);
    if (code < 0x80) {
      latin1.push_back(byte);
    } else {
      latin1.push_back(static_cast<char>(0xC0 | (code >> 6)));
      latin1.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return latin1;
}

std::string TextForTerminal(const char* bytes) {
  const std::string_view in(bytes);
  // Where the text is not UTF-8, a terminal may take each byte on its own.
  const bool utf8 = IsUtf8(in);
  std::string shown;
  shown.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    const auto code = static_cast<unsigned char>(in[i]);
    if (code < 0x20 && code != '\n') {
      shown += '<';
      shown += kControlNames[code];
      shown += '>';
    } else if (code == 0x7F) {
      shown += "<DEL>";
    } else if (!utf8 && code >= 0x80 && code <= 0x9F) {
      AppendHexName(code, &shown);
    } else if (utf8 && code == 0xC2 && i + 1 < in.size() &&
               static_cast<unsigned char>(in[i + 1]) <= 0x9F) {
      AppendHexName(static_cast<unsigned char>(in[++i]), &shown);
    } else {
      shown += in[i];
    }
  }
  return shown;
}

// This process has no top-level windows of its own on this platform.
void EnumerateTopLevelWindows(WindowVisitor /*visit*/) {}

uint32_t WindowThreadId(WindowHandle /*window*/) { return 0; }

uint32_t WindowProcessId(WindowHandle /*window*/) { return 0; }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

bool IsVisibleWindow(WindowHandle /*window*/) { return false; }

bool IsEnabledWindow(WindowHandle /*window*/) { return false; }

void EnableTopLevelWindow(WindowHandle /*window*/, bool /*enable*/) {}

bool IsTopmostWindow(WindowHandle /*window*/) { return false; }

void SetWindowTopmost(WindowHandle /*window*/, bool /*topmost*/) {}

WindowHandle ForegroundWindow() { return nullptr; }

int32_t ShowPlatformMessageBox(WindowHandle /*owner*/, const char* text, const char* title,
                               uint32_t style) {
  // GTK belongs to one thread at a time; boxes of several threads take turns.
  static std::mutex gtk_lock;
  std::lock_guard<std::mutex> hold(gtk_lock);
  if (HasDisplay()) {
    const Gtk* gtk = LoadGtk();
    if (gtk != nullptr && gtk->init_check(nullptr, nullptr)) {
      return RunDialog(*gtk, text, title, style);
    }
  }
  // A terminal acts on control bytes instead of showing them; a file or a
  // pipe gets the bytes as they are.
  if (isatty(STDERR_FILENO)) {
    const std::string shown = TextForTerminal(title) + "\n" + TextForTerminal(text) + "\n";
    WriteAll(shown.data(), shown.size());
    return 0;
  }
  WriteAll(title, std::strlen(title));
  WriteAll("\n", 1);
  WriteAll(text, std::strlen(text));
  WriteAll("\n", 1);
  return 0;
}

// GTK takes UTF-8, and so does standard error's reader.
int32_t ShowPlatformUtf8MessageBox(WindowHandle owner, const char* text, const char* title,
                                   uint32_t style) {
  return ShowPlatformMessageBox(owner, text, title, style);
}

// Nothing to prepare: GTK is started when the first box is shown.
void StartWindowSystem() {}

}  // namespace runtime::platform
