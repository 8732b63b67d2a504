#ifndef WEIGH_RUNTIME_PLATFORM_WIDE_TEXT_WIN32_H_
#define WEIGH_RUNTIME_PLATFORM_WIDE_TEXT_WIN32_H_

// UTF-8 to and from the UTF-16 of the wide Win32 calls. Paths that a
// person reads (the program file, the current folder) come from the wide
// calls, since the ANSI code page cannot name every letter (ș and ț are
// not in code page 1250), and travel through the program as UTF-8.

#include <string>

namespace runtime::platform {

// `length` UTF-16 units of `text` as UTF-8.
std::string Utf8FromWide(const wchar_t* text, int length);

// `text`, UTF-8, as UTF-16; bytes that are not UTF-8 become U+FFFD (or are
// dropped, on Windows XP).
std::wstring WideFromUtf8(const std::string& text);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_WIDE_TEXT_WIN32_H_
