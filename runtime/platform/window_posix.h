#ifndef WEIGH_RUNTIME_PLATFORM_WINDOW_POSIX_H_
#define WEIGH_RUNTIME_PLATFORM_WINDOW_POSIX_H_

// Pieces of the POSIX window backend that are worth testing on their own.

#include <string>

namespace runtime::platform {

// The bytes of a message as GTK can show them: well-formed UTF-8 as it is,
// anything else read byte by byte as Latin-1 and written as UTF-8, so that
// no byte is dropped and GTK is never handed invalid UTF-8.
std::string TextForDisplay(const char* bytes);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_WINDOW_POSIX_H_
