#include "runtime/platform/process.h"

#include <unistd.h>

namespace runtime::platform {

void EndProcess(int code) { _exit(code); }

bool RunningUnderWine() { return false; }

}  // namespace runtime::platform
