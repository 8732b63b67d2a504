#include "runtime/platform/process.h"

#include <unistd.h>

namespace runtime::platform {

void EndProcess(int code) { _exit(code); }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool RunningUnderWine() { return false; }

}  // namespace runtime::platform
