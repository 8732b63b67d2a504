#include "runtime/process.h"

#include "runtime/platform/process_control.h"

namespace runtime {

void PrepareProcess() { platform::PrepareProcess(); }

void EndProcess(int code) { platform::EndProcess(code); }

uint32_t ProcessId() { return platform::CurrentProcessId(); }

uint64_t UnpredictableNumber() { return platform::UnpredictableNumber(); }

}  // namespace runtime
