#ifndef WEIGH_RUNTIME_PLATFORM_PROCESS_CONTROL_H_
#define WEIGH_RUNTIME_PLATFORM_PROCESS_CONTROL_H_

#include <cstdint>

namespace runtime::platform {

// Readies the process for a run nobody watches. POSIX: descriptors 0 to 2
// are made to exist (on /dev/null) when the process was started without
// them, so that no file opened later lands on one and receives what is
// meant for standard error; writing to a pipe nobody reads and writing
// past a file size limit fail instead of ending the process with SIGPIPE
// or SIGXFSZ. Nothing to do on Windows.
void PrepareProcess();

// Ends the process at once with `code` (ExitProcess on Windows).
[[noreturn]] void EndProcess(int code);

// The identifier of this process.
uint32_t CurrentProcessId();

// A number nobody can guess in advance, from the system's random source
// (getrandom on Linux, RtlGenRandom on Windows); should that fail, from the
// clock and the process identifier, which are at least hard to hit.
uint64_t UnpredictableNumber();

// True when this Windows program runs under Wine rather than Windows.
bool RunningUnderWine();

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_PROCESS_CONTROL_H_
