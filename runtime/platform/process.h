#ifndef WEIGH_RUNTIME_PLATFORM_PROCESS_H_
#define WEIGH_RUNTIME_PLATFORM_PROCESS_H_

#include <cstdint>

namespace runtime::platform {

// Ends the process at once with `code` (ExitProcess on Windows).
[[noreturn]] void EndProcess(int code);

// The identifier of this process.
uint32_t CurrentProcessId();

// True when this Windows program runs under Wine rather than Windows.
bool RunningUnderWine();

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_PROCESS_H_
