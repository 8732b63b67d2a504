#ifndef WEIGH_RUNTIME_PLATFORM_WINDOW_POSIX_H_
#define WEIGH_RUNTIME_PLATFORM_WINDOW_POSIX_H_

// Pieces of the POSIX window backend that are worth testing on their own.

#include <string>

namespace runtime::platform {

// The bytes of a message as GTK can show them: well-formed UTF-8 as it is,
// anything else read byte by byte as Latin-1 and written as UTF-8, so that
// no byte is dropped and GTK is never handed invalid UTF-8.
std::string TextForDisplay(const char* bytes);

// The bytes of a message as a terminal may be given them: every control
// byte but the line feed is named in angle brackets (<ESC>, <STX>, <CR>,
// <DEL>), and so is every C1 control (<0x9B>): a raw byte in well-formed
// UTF-8, a two-byte character in it; everything else stays as it is.
// Nothing in a message can then move the cursor, clear the screen or
// retitle the window.
std::string TextForTerminal(const char* bytes);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_WINDOW_POSIX_H_
